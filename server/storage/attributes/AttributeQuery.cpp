#include "server/storage/attributes/AttributeQuery.h"

#include "server/storage/attributes/AttributeGuard.h"

#include <algorithm>
#include <cstring>

CAttributeQuery::CAttributeQuery() : cursor_(criteria_.end()) {}

CAttributeQuery::~CAttributeQuery() = default;

ULONG CAttributeQuery::AddRef()
{
    return ++refs_;
}

ULONG CAttributeQuery::Release()
{
    const ULONG n = --refs_;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CAttributeQuery::AddCriterion(DWORD selector, DWORD op, std::uintptr_t value, DWORD length)
{
    return attrib::Guarded([&]() -> HRESULT {
        AttributeCriterion c;
        c.selector = selector;
        c.op = op;
        c.value = value;
        if (c.CarriesBytes()) {
            if (length == 0xFFFFFFFFu || (value == 0 && length != 0))
                return E_INVALIDARG;
            c.length = length + 1;
            // A time is read as 8 bytes whatever the caller gave.
            const std::size_t room = std::max<std::size_t>(c.length, selector == 9 ? 8 : 0);
            c.copy.reset(new BYTE[room]());
            if (length != 0)
                std::memcpy(c.copy.get(), reinterpret_cast<const void*>(value), length);
            c.value = reinterpret_cast<std::uintptr_t>(c.copy.get());
        }
        if (selector == 100 || selector == 101)
            criteria_.push_front(std::move(c));
        else
            criteria_.push_back(std::move(c));
        return S_OK;
    });
}

HRESULT CAttributeQuery::Emit(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length) const
{
    *selector = cursor_->selector;
    *op = cursor_->op;
    *value = cursor_->value;
    *length = cursor_->length;
    return S_OK;
}

HRESULT CAttributeQuery::GetFirstCriterion(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length)
{
    if (selector == nullptr || op == nullptr || value == nullptr || length == nullptr)
        return E_POINTER;
    cursor_ = criteria_.begin();
    cursorSet_ = true;
    if (cursor_ == criteria_.end())
        return E_OUTOFMEMORY;
    return Emit(selector, op, value, length);
}

HRESULT CAttributeQuery::GetNextCriterion(DWORD* selector, DWORD* op, std::uintptr_t* value, DWORD* length)
{
    if (selector == nullptr || op == nullptr || value == nullptr || length == nullptr)
        return E_POINTER;
    if (!cursorSet_ || cursor_ == criteria_.end())
        return E_OUTOFMEMORY;
    if (++cursor_ == criteria_.end())
        return E_OUTOFMEMORY;
    return Emit(selector, op, value, length);
}

HRESULT CAttributeQuery::Reserved6()
{
    return E_NOTIMPL;
}

HRESULT CAttributeQuery::Reserved7()
{
    return E_NOTIMPL;
}

HRESULT CAttributeQuery::Reserved8()
{
    return E_NOTIMPL;
}

HRESULT CAttributeQuery::ClearCriteria()
{
    criteria_.clear();
    cursor_ = criteria_.end();
    cursorSet_ = false;
    return S_OK;
}
