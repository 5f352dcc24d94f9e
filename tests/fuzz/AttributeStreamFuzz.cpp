// Loads arbitrary bytes as an attribute record stream. Whatever a load keeps
// must save to a stream that loads cleanly and saves to the same bytes; the
// linear and the indexed query strategies must agree; nothing may be left
// alive afterwards.
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/ClassReferenceCount.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<BYTE> Save(CAttributeDirectory& dir)
{
    LONG size = 0;
    Check(dir.Serialize(nullptr, &size) == S_OK || size > 0);
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    Check(dir.Serialize(bytes.data(), &size) == S_OK);
    Check(static_cast<std::size_t>(size) == bytes.size());
    BYTE modified = 1;
    dir.IsModified(&modified);
    Check(modified == 0);
    return bytes;
}

std::vector<AttributeRecord*> Found(CAttributeDirectory& dir, CAttributeQuery* query)
{
    std::vector<AttributeRecord*> records;
    CAttributeList* list = nullptr;
    if (FAILED(dir.QueryAttributes(query, &list, nullptr)))
        return records;
    CAttribute* a = nullptr;
    for (HRESULT hr = list->GetFirst(&a); hr == S_OK; hr = list->GetNext(&a)) {
        AttributeRecord* r = nullptr;
        a->GetRecord(&r);
        records.push_back(r);
        a->Release();
    }
    list->Release();
    return records;
}

// A query made from the first bytes of the input, answered by the linear
// scan and by the indexed evaluation.
void CompareStrategies(CAttributeDirectory& dir, const uint8_t* data, size_t size)
{
    if (size < 16)
        return;
    const DWORD selector = data[0] % 11 + 1;
    const DWORD op = data[1] % 8;
    DWORD number = 0;
    std::memcpy(&number, data + 2, 4);
    char text[9] = {};
    int stars = 0;
    for (int i = 0; i < 8; ++i) {
        char c = static_cast<char>(data[6 + i]);
        // Few stars: a backtracking match is exponential in them.
        if (c == '*' && ++stars > 2)
            c = 'x';
        text[i] = c == '\0' ? 'a' : c;
    }
    const DWORD textLength = data[14] % 9;
    text[textLength] = '\0';

    for (DWORD strategy : {QUERY_INDEXED, QUERY_MATCHER}) {
        CAttributeQuery linear, other;
        for (CAttributeQuery* q : {&linear, &other}) {
            if (selector == QUERY_NAME || selector == QUERY_VALUE)
                q->AddCriterion(selector, op, reinterpret_cast<std::uintptr_t>(text), textLength);
            else if (selector == QUERY_TIME)
                q->AddCriterion(selector, op, reinterpret_cast<std::uintptr_t>(data + 6), 8);
            else
                q->AddCriterion(selector, op, number, 0);
        }
        // The matcher reads texts through the OEM interface; compare it on numbers only.
        if (strategy == QUERY_MATCHER && (selector == QUERY_NAME || selector == QUERY_VALUE))
            continue;
        other.AddCriterion(strategy, 0, 0, 0);
        Check(Found(dir, &linear) == Found(dir, &other));
    }
}

void Walk(CAttributeDirectory& dir)
{
    CAttribute* a = nullptr;
    for (HRESULT hr = dir.GetFirstAttribute(&a); hr == S_OK; hr = dir.GetNextAttribute(&a)) {
        char text[64];
        LONG count = sizeof text;
        a->GetName(text, &count);
        count = sizeof text;
        a->GetString(text, &count);
        BYTE bytes[64];
        DWORD n = sizeof bytes;
        a->GetBinary(bytes, &n);
        a->Release();
    }
    char name[32];
    CAttributeDirectory* sub = nullptr;
    for (HRESULT hr = dir.GetFirstDirectoryName(&sub, name, sizeof name); hr == S_OK;
         hr = dir.GetNextDirectoryName(&sub, name, sizeof name)) {
        CAttributeDirectory* byName = nullptr;
        // Names cut to the buffer or with characters outside the OEM page may not look up.
        const bool exact = std::strlen(name) + 1 < sizeof name && std::strchr(name, '?') == nullptr;
        Check(dir.GetDirectory(name, &byName) == S_OK || !exact);
        if (byName != nullptr)
            byName->Release();
        Walk(*sub);
        sub->Release();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    {
        CAttributeDirectory dir;
        dir.LoadFromBuffer(data, static_cast<LONG>(size));
        Walk(dir);
        CompareStrategies(dir, data, size);

        const std::vector<BYTE> once = Save(dir);
        CAttributeDirectory again;
        Check(again.LoadFromBuffer(once.data(), static_cast<LONG>(once.size())) == S_OK);
        Check(Save(again) == once);

        // The same bytes through a list, and into a single handle.
        CAttributeDirectory target;
        CAttributeList* list = nullptr;
        Check(target.GetAllAttributes(&list) == S_OK);
        list->LoadFromBuffer(data, static_cast<LONG>(size));
        CAttribute* first = nullptr;
        if (list->GetFirst(&first) == S_OK) {
            first->Load(data, static_cast<LONG>(size));
            first->Release();
        }
        list->Release();
        Save(target);
    }
    for (AttributeClass c : {AttributeClass::Directory, AttributeClass::Query, AttributeClass::Attribute,
                             AttributeClass::List})
        Check(LiveAttributeObjects(c) == 0);
    return 0;
}
