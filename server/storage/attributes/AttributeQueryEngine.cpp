#include "server/storage/attributes/AttributeQueryEngine.h"

#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/AttributeMatch.h"

HRESULT CAttributeQueryEngine::Run(CAttributeQuery& query, const AttributeRecordSequence& records,
                                   CAttributeDirectory* directory, const Finder& find, const ChangeCheck& changed,
                                   CAttributeList** list, CAttribute** first)
{
    const DWORD strategy = attrib::QueryStrategy(query);
    if (strategy == QUERY_INDEXED) {
        // The check runs every time, so that it can note what it saw.
        const bool outdated = changed != nullptr && changed();
        if (stale_ || outdated) {
            indexes_.Rebuild(records);
            stale_ = false;
        }
        return CAttributeList::CreateResult(indexes_.Select(query, records), directory, list, first);
    }
    if (strategy == QUERY_MATCHER)
        return find(Matches, reinterpret_cast<std::uintptr_t>(&query), list, first);
    return ScanQuery(records, directory, &query, list, first);
}
