#pragma once
// A reference-counted handle on one record of an attribute directory. The
// directory and its lists hand handles out with one reference; the caller
// gives it back with Release. Every change reports itself to the directory,
// which marks itself modified and its query indexes stale.
//
// Text crosses this interface as OEM text (see OemCodePage.h); names and
// string values are held as UTF-16. A handle holds no reference on its
// directory and must not outlive it.

#include "server/storage/attributes/AttributeRecord.h"
#include "server/storage/attributes/ClassReferenceCount.h"

#include <atomic>

class CAttributeDirectory;

class CAttribute {
public:
    CAttribute();
    CAttribute(const CAttribute&) = delete;
    CAttribute& operator=(const CAttribute&) = delete;

    virtual ~CAttribute();
    virtual ULONG AddRef();
    virtual ULONG Release();
    // E_FAIL when the directory has a sub-directory of that name.
    virtual HRESULT SetName(const char* name);
    // As GetString, on the name.
    virtual HRESULT GetName(char* buffer, LONG* count);
    virtual HRESULT SetId(LONG id);
    virtual HRESULT GetId(LONG* id);
    virtual HRESULT SetAppId(LONG appId);
    virtual HRESULT GetAppId(LONG* appId);
    virtual HRESULT SetParam(LONG param);
    virtual HRESULT GetParam(LONG* param);
    // Both words replaced by their 28 flag bits.
    virtual HRESULT SetFlags(DWORD mask, DWORD values);
    virtual HRESULT GetFlags(DWORD* mask, DWORD* values);
    // Defines the bits; they are on when `on` is exactly 1, else off.
    virtual HRESULT SetFlag(DWORD bits, LONG on);
    // The bits become undefined.
    virtual HRESULT ClearFlags(DWORD bits);
    // -1 when none of the bits is defined, else 1 when any is on, else 0.
    virtual HRESULT GetFlag(DWORD bits, LONG* state);
    virtual HRESULT SetBinary(const BYTE* bytes, LONG count);
    // count < value length: E_OUTOFMEMORY with the length in count.
    virtual HRESULT GetBinary(BYTE* buffer, DWORD* count);
    virtual HRESULT SetString(const char* text);
    // count in bytes, terminator included. Too small (a null buffer with
    // count 0 asks for the size): E_OUTOFMEMORY with the needed count. An
    // empty value: E_FAIL and count 0. Success: count := characters copied.
    virtual HRESULT GetString(char* buffer, LONG* count);
    virtual HRESULT SetUserWord(DWORD word);
    virtual HRESULT GetUserWord(DWORD* word);
    virtual HRESULT SetTime(const SYSTEMTIME* time);
    virtual HRESULT SetFileTime(const FILETIME* time);
    virtual HRESULT GetTime(SYSTEMTIME* time);
    virtual HRESULT GetFileTime(FILETIME* time);
    virtual HRESULT SetParamNumber(LONG param);
    virtual HRESULT GetParamNumber(LONG* param);
    virtual HRESULT SetMaskNumber(DWORD mask);
    virtual HRESULT GetMaskNumber(DWORD* mask);
    // A 28-bit number kept in place of the flag values.
    virtual HRESULT SetNumber(DWORD number);
    // The flag word as stored, all 32 bits.
    virtual HRESULT GetNumber(DWORD* number);
    virtual HRESULT SetTimeLow(DWORD low);
    virtual HRESULT GetTimeLow(DWORD* low);
    virtual HRESULT SetTimeHigh(DWORD high);
    virtual HRESULT GetTimeHigh(DWORD* high);
    virtual HRESULT ClearMark();
    virtual HRESULT SetMark();
    virtual HRESULT IsUnmarked(BYTE* unmarked);
    // The owning directory, without a reference.
    virtual HRESULT GetDirectory(CAttributeDirectory** directory);
    virtual HRESULT GetSerializedSize(LONG* size);
    // One record in stream form. size < needed: E_OUTOFMEMORY, size := needed.
    virtual HRESULT Serialize(BYTE* buffer, LONG* size);
    // Replaces the record's content by one record in stream form.
    virtual HRESULT Load(const BYTE* buffer, LONG size);
    virtual HRESULT Attach(AttributeRecord* record, CAttributeDirectory* directory);
    virtual HRESULT GetRecord(AttributeRecord** record);

    // A new handle on the record with the caller owning its one reference;
    // *out is null on failure.
    static HRESULT CreateAttached(AttributeRecord* record, CAttributeDirectory* directory, CAttribute** out);

private:
    HRESULT Changed();
    void ApplyFlagBits(DWORD mask, DWORD values, bool raw);
    void ReplaceFlagWord(DWORD values);
    template <typename F>
    HRESULT Change(F&& edit);
    template <typename T>
    HRESULT Read(T* out, T value, HRESULT invalid) const;

    ClassInstanceCounter counter_{AttributeClass::Attribute};
    std::atomic<ULONG> refs_{1};
    AttributeRecord* record_ = nullptr;
    CAttributeDirectory* directory_ = nullptr;
};
