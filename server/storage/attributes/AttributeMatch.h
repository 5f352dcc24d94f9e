#pragma once
// Evaluation of attribute queries: what each selector reads, what each
// operator means for numbers, times, texts and bytes, and the two strategies
// that work record by record (the linear scan and the per-attribute matcher).
// The indexed strategy (AttributeIndexes.h) uses the same comparisons, so a
// query gives the same attributes whichever strategy answers it.

#include "server/storage/attributes/AttributeFilter.h"
#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecord.h"
#include "server/storage/attributes/AttributeText.h"

#include <cstdint>
#include <optional>

class CAttribute;
class CAttributeDirectory;
class CAttributeList;

// Each gives S_OK when the criterion holds and E_FAIL when not.
HRESULT CompareInteger(LONG a, LONG c, DWORD op);
// The criterion's first 8 bytes, an unsigned little-endian 64-bit time.
HRESULT CompareTime(const FILETIME& a, const BYTE* criterion, DWORD op);
// length is the criterion's stored length (the caller's length + 1); the
// bytes are equal when the value has the caller's length and the same bytes.
HRESULT CompareBinary(const BYTE* value, DWORD valueLength, const BYTE* criterion, DWORD length, DWORD op);
HRESULT CompareWideText(const attrib::TextKey& pattern, const attrib::TextKey& text, DWORD op);
HRESULT CompareText(const char* pattern, const char* text, DWORD op);

// The linear scan over the visible records of the sequence; the result list
// is bound to owner. With first, the list's first attribute; when there is
// none the list is released, both outs are null and E_OUTOFMEMORY returned.
HRESULT ScanQuery(const AttributeRecordSequence& records, CAttributeDirectory* owner, CAttributeQuery* query,
                  CAttributeList** list, CAttribute** first);

// The records that filter takes, walked as given (a filter that adds
// attributes does not see them), as a list bound to owner; outs as for
// ScanQuery.
HRESULT FilterRecords(const AttributeRecordSequence& records, CAttributeDirectory* owner, AttributeFilter filter,
                      std::uintptr_t userData, CAttributeList** list, CAttribute** first);

// The per-attribute matcher, a FindAttributes callback with the query as
// user data: 1 to take the attribute, 0 to skip it.
BOOL Matches(CAttribute* attribute, std::uintptr_t query);

namespace attrib {

// The strategy a query asks for by its first criterion: QUERY_INDEXED,
// QUERY_MATCHER, or 0 for the linear scan.
DWORD QueryStrategy(const CAttributeQuery& query);

TextKey NameKey(const AttributeRecord& r);
TextKey ValueKey(const AttributeRecord& r);
// A selector 1 or 7 criterion's text as UTF-16, up to its first zero byte.
TextKey CriterionPattern(const AttributeCriterion& c);

// The number a selector reads from a record (2 to 6, 8, 10 to 13).
std::optional<LONG> NumberField(const AttributeRecord& r, DWORD selector);

// A selector 1 or 7 criterion on a record whose name or value is `field`:
// a binary value is compared as bytes, anything else as text.
HRESULT CompareRecordText(const AttributeRecord& r, const TextKey& field, const AttributeCriterion& c,
                          const TextKey& pattern);

} // namespace attrib
