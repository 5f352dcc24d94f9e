#pragma once
// The query evaluation a directory and a list share: the strategy the query
// asks for (indexed, per-attribute matcher, or linear scan) over the records
// their owner offers, with the indexes the indexed strategy keeps between
// queries.

#include "server/storage/attributes/AttributeFilter.h"
#include "server/storage/attributes/AttributeIndexes.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecord.h"

#include <cstdint>
#include <functional>

class CAttribute;
class CAttributeDirectory;
class CAttributeList;

class CAttributeQueryEngine {
public:
    // The owner's FindAttributes, which the matcher strategy runs through.
    using Finder = std::function<HRESULT(AttributeFilter, std::uintptr_t, CAttributeList**, CAttribute**)>;
    // Asked before an indexed query: true when the owner changed in a way
    // the engine was not told of, so the indexes are built again.
    using ChangeCheck = std::function<bool()>;

    // The records changed: the next indexed query builds the indexes again.
    void MarkStale() { stale_ = true; }
    // Lets the indexes go (the records are gone).
    void Clear() { indexes_.Clear(); }

    // The query over records, as a list bound to directory; outs as for
    // ScanQuery. Exceptions pass to the caller's guard.
    HRESULT Run(CAttributeQuery& query, const AttributeRecordSequence& records, CAttributeDirectory* directory,
                const Finder& find, const ChangeCheck& changed, CAttributeList** list, CAttribute** first);

private:
    bool stale_ = true;
    CAttributeIndexes indexes_;
};
