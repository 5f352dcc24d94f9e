#pragma once
// A reference-counted list of criteria that an attribute must all meet,
// handed to QueryAttributes of a directory or a list.
//
// Selectors: 1 name, 2 id, 3 appId, 4 param, 5 flagMask, 6 flags (both of
// their 28 flag bits), 7 value, 8 userWord, 9 time, 10 and 11 the low and
// high half of time, 12 and 13 flagMask and flags with all 32 bits (linear
// scan only); 100 asks for the indexed evaluation, 101 for the per-attribute
// matcher. Operators: 1 =, 2 <, 3 >, 4 !=, 5 >=, 6 <=, 7 case-insensitive
// text equality. Texts (selectors 1 and 7) match as wildcard patterns.

#include "server/storage/attributes/ClassReferenceCount.h"

#include "platform/win/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

constexpr DWORD QUERY_NAME = 1;
constexpr DWORD QUERY_ID = 2;
constexpr DWORD QUERY_APP_ID = 3;
constexpr DWORD QUERY_PARAM = 4;
constexpr DWORD QUERY_FLAG_MASK = 5;
constexpr DWORD QUERY_FLAGS = 6;
constexpr DWORD QUERY_VALUE = 7;
constexpr DWORD QUERY_USER_WORD = 8;
constexpr DWORD QUERY_TIME = 9;
constexpr DWORD QUERY_TIME_LOW = 10;
constexpr DWORD QUERY_TIME_HIGH = 11;
constexpr DWORD QUERY_FLAG_MASK_ALL = 12;
constexpr DWORD QUERY_FLAGS_ALL = 13;
constexpr DWORD QUERY_INDEXED = 100;
constexpr DWORD QUERY_MATCHER = 101;

constexpr DWORD QUERY_EQUAL = 1;
constexpr DWORD QUERY_LESS = 2;
constexpr DWORD QUERY_GREATER = 3;
constexpr DWORD QUERY_NOT_EQUAL = 4;
constexpr DWORD QUERY_GREATER_EQUAL = 5;
constexpr DWORD QUERY_LESS_EQUAL = 6;
constexpr DWORD QUERY_EQUAL_NO_CASE = 7;

struct AttributeCriterion {
    DWORD selector = 0;
    DWORD op = 0;
    // For selectors 1, 7 and 9 the given length + 1; else 0.
    DWORD length = 0;
    // For selectors 1, 7 and 9 the address of `copy`; else the integer.
    std::uintptr_t value = 0;
    // The given bytes and a zero byte (at least 8 bytes for a time).
    std::unique_ptr<BYTE[]> copy;

    bool CarriesBytes() const { return selector == 1 || selector == 7 || selector == 9; }
    const BYTE* Bytes() const { return copy.get(); }
    LONG Number() const { return static_cast<LONG>(static_cast<std::uint32_t>(value)); }
};

class CAttributeQuery {
public:
    CAttributeQuery();
    CAttributeQuery(const CAttributeQuery&) = delete;
    CAttributeQuery& operator=(const CAttributeQuery&) = delete;

    virtual ~CAttributeQuery();
    virtual ULONG AddRef();
    virtual ULONG Release();
    // For selectors 1, 7 and 9, value is the address of `length` bytes (OEM
    // text for 1 and 7, a FILETIME for 9); for the others, the number itself.
    // Selectors 100 and 101 go to the front, all others to the back.
    virtual HRESULT AddCriterion(DWORD selector, DWORD op, std::uintptr_t value, DWORD length);
    // E_OUTOFMEMORY at the end of the walk.
    virtual HRESULT GetFirstCriterion(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length);
    virtual HRESULT GetNextCriterion(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length);
    virtual HRESULT Reserved6();
    virtual HRESULT Reserved7();
    virtual HRESULT Reserved8();
    virtual HRESULT ClearCriteria();

    // The criteria in evaluation order, for the store's strategies (which
    // leave the criterion cursor alone).
    const std::list<AttributeCriterion>& Criteria() const { return criteria_; }

private:
    HRESULT Emit(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length) const;

    ClassInstanceCounter counter_{AttributeClass::Query};
    std::list<AttributeCriterion> criteria_;
    std::list<AttributeCriterion>::iterator cursor_;
    bool cursorSet_ = false;
    std::atomic<ULONG> refs_{1};
};
