#pragma once
// The eleven query indexes of a directory or a list, rebuilt as a whole when
// an indexed query finds them stale: one ordered multimap per number field,
// one for the full time, and one each for the name and the value.

#include "server/storage/attributes/AttributeQuery.h"
#include "server/storage/attributes/AttributeRecord.h"
#include "server/storage/attributes/AttributeText.h"

#include <map>
#include <unordered_set>

class CAttributeIndexes {
public:
    // Every record goes in, removed ones included (the lists skip them);
    // sub-directory entries stay out, as they are not attributes.
    void Rebuild(const AttributeRecordSequence& records);
    void Clear();

    // The records meeting every criterion, in the order of `order`; criteria
    // with selector 100 are skipped, and a query with no other criterion
    // selects nothing.
    AttributeRecordSequence Select(const CAttributeQuery& query, const AttributeRecordSequence& order) const;

private:
    using NumberIndex = std::multimap<LONG, AttributeRecord*>;
    using TextIndex = std::multimap<attrib::TextKey, AttributeRecord*, attrib::TextKeyLess>;

    const NumberIndex* NumberIndexOf(DWORD selector) const;
    std::unordered_set<AttributeRecord*> SelectOne(const AttributeCriterion& c) const;

    NumberIndex appId_, id_, userWord_, param_, flagMask_, flags_, timeLow_, timeHigh_;
    TextIndex name_, value_;
    std::multimap<ULONGLONG, AttributeRecord*> time_;
};
