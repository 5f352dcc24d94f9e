#include "server/storage/attributes/AttributeMatch.h"

#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeList.h"
#include "server/storage/attributes/OemCodePage.h"
#include "server/storage/attributes/Wildcard.h"

#include <cstring>
#include <vector>

namespace {

template <typename T>
HRESULT CompareOrdered(T a, T c, DWORD op)
{
    bool holds = false;
    switch (op) {
    case QUERY_EQUAL: holds = a == c; break;
    case QUERY_LESS: holds = a < c; break;
    case QUERY_GREATER: holds = a > c; break;
    case QUERY_NOT_EQUAL: holds = a != c; break;
    case QUERY_GREATER_EQUAL: holds = a >= c; break;
    case QUERY_LESS_EQUAL: holds = a <= c; break;
    default: holds = false; break;
    }
    return holds ? S_OK : E_FAIL;
}

// The text and bytes column of the operator table, given whether the pattern
// matched (or the bytes were equal).
HRESULT TextResult(bool matched, DWORD op)
{
    switch (op) {
    case QUERY_EQUAL:
    case QUERY_GREATER_EQUAL:
    case QUERY_LESS_EQUAL:
    case QUERY_EQUAL_NO_CASE:
        return matched ? S_OK : E_FAIL;
    case QUERY_LESS:
    case QUERY_GREATER:
    case QUERY_NOT_EQUAL:
        return matched ? E_FAIL : S_OK;
    default:
        return E_FAIL;
    }
}

ULONGLONG ReadTime(const BYTE* p)
{
    ULONGLONG v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// A name or string value read through the handle's getters; "" when empty.
template <typename Getter>
std::string ReadText(Getter get)
{
    LONG count = 0;
    if (get(nullptr, &count) != E_OUTOFMEMORY || count <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<std::size_t>(count) + 1, '\0');
    if (FAILED(get(buffer.data(), &count)))
        return std::string();
    return std::string(buffer.data());
}

bool Holds(CAttribute& a, const AttributeCriterion& c)
{
    LONG n = 0;
    DWORD u = 0;
    DWORD mask = 0;
    DWORD values = 0;
    FILETIME ft{};
    switch (c.selector) {
    case QUERY_NAME: {
        const std::string name = ReadText([&](char* b, LONG* n2) { return a.GetName(b, n2); });
        return CompareText(reinterpret_cast<const char*>(c.Bytes()), name.c_str(), c.op) == S_OK;
    }
    case QUERY_VALUE: {
        const std::string text = ReadText([&](char* b, LONG* n2) { return a.GetString(b, n2); });
        return CompareText(reinterpret_cast<const char*>(c.Bytes()), text.c_str(), c.op) == S_OK;
    }
    case QUERY_ID:
        return SUCCEEDED(a.GetId(&n)) && CompareInteger(n, c.Number(), c.op) == S_OK;
    case QUERY_APP_ID:
        return SUCCEEDED(a.GetAppId(&n)) && CompareInteger(n, c.Number(), c.op) == S_OK;
    case QUERY_PARAM:
        return SUCCEEDED(a.GetParam(&n)) && CompareInteger(n, c.Number(), c.op) == S_OK;
    case QUERY_FLAG_MASK:
    case QUERY_FLAGS:
        if (FAILED(a.GetFlags(&mask, &values)))
            return false;
        u = c.selector == QUERY_FLAG_MASK ? mask : values;
        return CompareInteger(static_cast<LONG>(u), c.Number(), c.op) == S_OK;
    case QUERY_USER_WORD:
        return SUCCEEDED(a.GetUserWord(&u)) && CompareInteger(static_cast<LONG>(u), c.Number(), c.op) == S_OK;
    case QUERY_TIME:
        return SUCCEEDED(a.GetFileTime(&ft)) && CompareTime(ft, c.Bytes(), c.op) == S_OK;
    case QUERY_TIME_LOW:
        return SUCCEEDED(a.GetTimeLow(&u)) && CompareInteger(static_cast<LONG>(u), c.Number(), c.op) == S_OK;
    case QUERY_TIME_HIGH:
        return SUCCEEDED(a.GetTimeHigh(&u)) && CompareInteger(static_cast<LONG>(u), c.Number(), c.op) == S_OK;
    default:
        return true;
    }
}

} // namespace

HRESULT CompareInteger(LONG a, LONG c, DWORD op)
{
    return CompareOrdered(a, c, op);
}

HRESULT CompareTime(const FILETIME& a, const BYTE* criterion, DWORD op)
{
    if (criterion == nullptr)
        return E_FAIL;
    return CompareOrdered(FileTimeToUInt64(a), ReadTime(criterion), op);
}

HRESULT CompareBinary(const BYTE* value, DWORD valueLength, const BYTE* criterion, DWORD length, DWORD op)
{
    if (length == 0 || criterion == nullptr)
        return E_FAIL;
    const DWORD n = length - 1;
    const bool equal = valueLength == n && (n == 0 || (value != nullptr && std::memcmp(value, criterion, n) == 0));
    return TextResult(equal, op);
}

HRESULT CompareWideText(const attrib::TextKey& pattern, const attrib::TextKey& text, DWORD op)
{
    if (op == QUERY_EQUAL_NO_CASE)
        return attrib::TextKeyEquals(pattern, text) ? S_OK : E_FAIL;
    return TextResult(attrib::TextKeyMatches(pattern, text), op);
}

HRESULT CompareText(const char* pattern, const char* text, DWORD op)
{
    if (op == QUERY_EQUAL_NO_CASE)
        return attrib::NarrowEqualNoCase(pattern, text) ? S_OK : E_FAIL;
    return TextResult(MatchWildcard(pattern, text) == 1, op);
}

HRESULT ScanQuery(const AttributeRecordSequence& records, CAttributeDirectory* owner, CAttributeQuery* query,
                  CAttributeList** list, CAttribute** first)
{
    if (query == nullptr)
        return E_INVALIDARG;
    const auto& criteria = query->Criteria();
    // Each text criterion is converted once, not once per record.
    std::vector<attrib::TextKey> patterns;
    patterns.reserve(criteria.size());
    for (const AttributeCriterion& c : criteria) {
        patterns.push_back(c.selector == QUERY_NAME || c.selector == QUERY_VALUE ? attrib::CriterionPattern(c)
                                                                                 : attrib::TextKey{});
    }
    AttributeRecordSequence taken;
    for (AttributeRecord* r : records) {
        if (!IsVisibleAttribute(*r) || criteria.empty())
            continue;
        bool all = true;
        std::size_t ordinal = 0;
        for (auto it = criteria.begin(); all && it != criteria.end(); ++it, ++ordinal) {
            const AttributeCriterion& c = *it;
            if (c.selector == QUERY_NAME)
                all = attrib::CompareRecordText(*r, attrib::NameKey(*r), c, patterns[ordinal]) == S_OK;
            else if (c.selector == QUERY_VALUE)
                all = attrib::CompareRecordText(*r, attrib::ValueKey(*r), c, patterns[ordinal]) == S_OK;
            else if (c.selector == QUERY_TIME)
                all = CompareTime(r->time, c.Bytes(), c.op) == S_OK;
            else if (auto n = attrib::NumberField(*r, c.selector))
                all = CompareInteger(*n, c.Number(), c.op) == S_OK;
        }
        if (all)
            taken.push_back(r);
    }
    return CAttributeList::CreateResult(taken, owner, list, first);
}

HRESULT FilterRecords(const AttributeRecordSequence& records, CAttributeDirectory* owner, AttributeFilter filter,
                      std::uintptr_t userData, CAttributeList** list, CAttribute** first)
{
    AttributeRecordSequence taken;
    for (AttributeRecord* r : records) {
        CAttribute* handle = nullptr;
        if (FAILED(CAttribute::CreateAttached(r, owner, &handle)))
            continue;
        const BOOL take = filter(handle, userData);
        handle->Release();
        if (take != 0)
            taken.push_back(r);
    }
    return CAttributeList::CreateResult(taken, owner, list, first);
}

BOOL Matches(CAttribute* attribute, std::uintptr_t query)
{
    if (attribute == nullptr || query == 0)
        return 0;
    try {
        const auto* q = reinterpret_cast<const CAttributeQuery*>(query);
        for (const AttributeCriterion& c : q->Criteria()) {
            if (!Holds(*attribute, c))
                return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace attrib {

DWORD QueryStrategy(const CAttributeQuery& query)
{
    const auto& criteria = query.Criteria();
    const DWORD first = criteria.empty() ? 0 : criteria.front().selector;
    return first == QUERY_INDEXED || first == QUERY_MATCHER ? first : 0;
}

TextKey NameKey(const AttributeRecord& r)
{
    return TextKey{r.name != nullptr, NameText(r)};
}

TextKey ValueKey(const AttributeRecord& r)
{
    return TextKey{r.value != nullptr, ValueText(r)};
}

TextKey CriterionPattern(const AttributeCriterion& c)
{
    return TextKey{true, OemToWide(reinterpret_cast<const char*>(c.Bytes()))};
}

std::optional<LONG> NumberField(const AttributeRecord& r, DWORD selector)
{
    switch (selector) {
    case QUERY_ID: return r.id;
    case QUERY_APP_ID: return r.appId;
    case QUERY_PARAM: return r.param;
    case QUERY_FLAG_MASK: return static_cast<LONG>(r.flagMask & ATTRIBUTE_FLAG_BITS);
    case QUERY_FLAGS: return static_cast<LONG>(r.flags & ATTRIBUTE_FLAG_BITS);
    case QUERY_USER_WORD: return static_cast<LONG>(r.userWord);
    case QUERY_TIME_LOW: return static_cast<LONG>(r.time.dwLowDateTime);
    case QUERY_TIME_HIGH: return static_cast<LONG>(r.time.dwHighDateTime);
    case QUERY_FLAG_MASK_ALL: return static_cast<LONG>(r.flagMask);
    case QUERY_FLAGS_ALL: return static_cast<LONG>(r.flags);
    default: return std::nullopt;
    }
}

HRESULT CompareRecordText(const AttributeRecord& r, const TextKey& field, const AttributeCriterion& c,
                          const TextKey& pattern)
{
    if (c.selector == QUERY_VALUE && (r.flags & RECORD_BINARY) != 0)
        return CompareBinary(r.value, std::min(r.valueLength, r.valueSize), c.Bytes(), c.length, c.op);
    return CompareWideText(pattern, field, c.op);
}

} // namespace attrib
