#pragma once
// The result set of the attribute store: an ordered list of records that
// belong to one directory, with a cursor and operations on all of them.
// The list holds no reference on its directory and must not outlive it, nor
// be used after the directory was cleared. Removed records stay in the list
// and are skipped.

#include "server/storage/attributes/AttributeFilter.h"
#include "server/storage/attributes/AttributeQueryEngine.h"
#include "server/storage/attributes/AttributeRecord.h"
#include "server/storage/attributes/ClassReferenceCount.h"

#include <atomic>

class CAttribute;
class CAttributeDirectory;
class CAttributeQuery;

class CAttributeList {
public:
    CAttributeList();
    CAttributeList(const CAttributeList&) = delete;
    CAttributeList& operator=(const CAttributeList&) = delete;

    virtual ~CAttributeList();
    virtual ULONG AddRef();
    virtual ULONG Release();
    // Creates through the directory and appends the new record.
    virtual HRESULT CreateAttribute(const char* name, LONG appId, LONG id, CAttribute** attribute, BYTE unique);
    // The cursor walk; E_OUTOFMEMORY with a null handle at either end
    // (GetNext already at the end leaves *attribute as it was).
    virtual HRESULT GetFirst(CAttribute** attribute);
    virtual HRESULT GetNext(CAttribute** attribute);
    virtual HRESULT GetPrevious(CAttribute** attribute);
    virtual HRESULT GetLast(CAttribute** attribute);
    virtual HRESULT AddRecord(const AttributeRecord* record, CAttribute** attribute, BYTE unique);
    virtual HRESULT AddAttributeCopy(CAttribute* source, CAttribute** attribute, BYTE unique);
    virtual HRESULT RemoveRecord(const AttributeRecord* record);
    virtual HRESULT RemoveAttribute(CAttribute* attribute);
    virtual HRESULT GetCount(LONG* count);
    // Removes every record of the list from the directory; the list is emptied.
    virtual HRESULT RemoveAll();
    virtual HRESULT AddFromDirectory(CAttributeDirectory* source, BYTE unique);
    virtual HRESULT AddFromList(CAttributeList* source, BYTE unique);
    // The bulk setters change the records that are not removed.
    virtual HRESULT SetAppIdAll(LONG appId);
    virtual HRESULT SetMarkAll();
    virtual HRESULT ClearMarkAll();
    virtual HRESULT SetUserWordAll(DWORD word);
    virtual HRESULT SetFlagsAll(DWORD mask, DWORD values);
    // Offers every record, removed ones included.
    virtual HRESULT FindAttributes(AttributeFilter filter, std::uintptr_t userData, CAttributeList** list,
                                   CAttribute** first);
    virtual HRESULT QueryAttributes(CAttributeQuery* query, CAttributeList** list, CAttribute** first);
    virtual HRESULT GetSerializedSize(LONG* size);
    virtual HRESULT Serialize(BYTE* buffer, LONG* size);
    // Adds the stream's records to the directory (unique) and to the list.
    virtual HRESULT LoadFromBuffer(const BYTE* buffer, LONG length);
    virtual HRESULT FillFromDirectory(const AttributeRecordSequence& records, CAttributeDirectory* directory);

    const AttributeRecordSequence& Records() const { return records_; }

    // A new list over the records, bound to the directory; with first, its
    // first attribute (when there is none the list is released, both outs
    // are null and E_OUTOFMEMORY returned).
    static HRESULT CreateResult(const AttributeRecordSequence& records, CAttributeDirectory* directory,
                                CAttributeList** list, CAttribute** first);

private:
    template <typename F>
    HRESULT ForwardAndAppend(F&& create, CAttribute** attribute);
    template <typename F>
    HRESULT ForEachLive(F&& edit);
    HRESULT HandleAtCursor(CAttribute** attribute);

    ClassInstanceCounter counter_{AttributeClass::List};
    std::atomic<LONG> refs_{1};
    CAttributeDirectory* directory_ = nullptr;
    AttributeRecordSequence records_;
    AttributeRecordSequence::iterator cursor_;
    unsigned long long indexedChangeCount_ = 0;
    CAttributeQueryEngine queries_;
};
