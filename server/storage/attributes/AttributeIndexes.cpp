#include "server/storage/attributes/AttributeIndexes.h"

#include "server/storage/attributes/AttributeMatch.h"

namespace {

// The entries of an ordered index whose keys stand in relation op to key.
template <typename Index, typename Key>
void SelectRange(const Index& index, const Key& key, DWORD op, std::unordered_set<AttributeRecord*>& out)
{
    auto add = [&](auto from, auto to) {
        for (auto it = from; it != to; ++it)
            out.insert(it->second);
    };
    switch (op) {
    case QUERY_EQUAL: add(index.lower_bound(key), index.upper_bound(key)); break;
    case QUERY_LESS: add(index.begin(), index.lower_bound(key)); break;
    case QUERY_GREATER: add(index.upper_bound(key), index.end()); break;
    case QUERY_NOT_EQUAL:
        add(index.begin(), index.lower_bound(key));
        add(index.upper_bound(key), index.end());
        break;
    case QUERY_GREATER_EQUAL: add(index.lower_bound(key), index.end()); break;
    case QUERY_LESS_EQUAL: add(index.begin(), index.upper_bound(key)); break;
    default: break;
    }
}

} // namespace

void CAttributeIndexes::Clear()
{
    for (NumberIndex* index : {&appId_, &id_, &userWord_, &param_, &flagMask_, &flags_, &timeLow_, &timeHigh_})
        index->clear();
    name_.clear();
    value_.clear();
    time_.clear();
}

void CAttributeIndexes::Rebuild(const AttributeRecordSequence& records)
{
    Clear();
    const std::pair<DWORD, NumberIndex*> numbers[] = {
        {QUERY_APP_ID, &appId_}, {QUERY_ID, &id_}, {QUERY_USER_WORD, &userWord_}, {QUERY_PARAM, &param_},
        {QUERY_FLAG_MASK, &flagMask_}, {QUERY_FLAGS, &flags_}, {QUERY_TIME_LOW, &timeLow_},
        {QUERY_TIME_HIGH, &timeHigh_}};
    for (AttributeRecord* r : records) {
        if ((r->flags & RECORD_DIRECTORY) != 0)
            continue;
        for (const auto& [selector, index] : numbers)
            index->emplace(*attrib::NumberField(*r, selector), r);
        name_.emplace(attrib::NameKey(*r), r);
        value_.emplace(attrib::ValueKey(*r), r);
        time_.emplace(FileTimeToUInt64(r->time), r);
    }
}

const CAttributeIndexes::NumberIndex* CAttributeIndexes::NumberIndexOf(DWORD selector) const
{
    switch (selector) {
    case QUERY_ID: return &id_;
    case QUERY_APP_ID: return &appId_;
    case QUERY_PARAM: return &param_;
    case QUERY_FLAG_MASK: return &flagMask_;
    case QUERY_FLAGS: return &flags_;
    case QUERY_USER_WORD: return &userWord_;
    case QUERY_TIME_LOW: return &timeLow_;
    case QUERY_TIME_HIGH: return &timeHigh_;
    default: return nullptr;
    }
}

std::unordered_set<AttributeRecord*> CAttributeIndexes::SelectOne(const AttributeCriterion& c) const
{
    std::unordered_set<AttributeRecord*> out;
    if (const NumberIndex* index = NumberIndexOf(c.selector)) {
        SelectRange(*index, c.Number(), c.op, out);
    } else if (c.selector == QUERY_TIME) {
        const BYTE* b = c.Bytes();
        ULONGLONG key = 0;
        for (int i = 7; i >= 0; --i)
            key = key << 8 | b[i];
        SelectRange(time_, key, c.op, out);
    } else if (c.selector == QUERY_NAME || c.selector == QUERY_VALUE) {
        const attrib::TextKey pattern = attrib::CriterionPattern(c);
        for (const auto& [key, record] : c.selector == QUERY_NAME ? name_ : value_) {
            if (attrib::CompareRecordText(*record, key, c, pattern) == S_OK)
                out.insert(record);
        }
    }
    return out;
}

AttributeRecordSequence CAttributeIndexes::Select(const CAttributeQuery& query,
                                                  const AttributeRecordSequence& order) const
{
    std::unordered_set<AttributeRecord*> candidates;
    bool first = true;
    for (const AttributeCriterion& c : query.Criteria()) {
        if (c.selector == QUERY_INDEXED)
            continue;
        std::unordered_set<AttributeRecord*> selected = SelectOne(c);
        if (first) {
            candidates = std::move(selected);
            first = false;
        } else {
            std::erase_if(candidates, [&](AttributeRecord* r) { return selected.count(r) == 0; });
        }
        if (candidates.empty())
            break;
    }
    AttributeRecordSequence selected;
    for (AttributeRecord* r : order) {
        if (candidates.count(r) != 0)
            selected.push_back(r);
    }
    return selected;
}
