#pragma once
// The typed attribute directory that an attribute container file holds: an
// ordered list of attribute records and nested sub-directories, with its
// byte form (the record stream).
//
// Record stream: for each record that is not removed, in list order, the
// 56-byte header (AttributeRecordHeader.h), nameSize bytes of UTF-16 name
// with its terminator, valueSize bytes of value. A sub-directory's record
// carries the sub-directory's own stream as its value. Little-endian.
//
// Reference-counted without a COM base: a directory from new starts with one
// reference and deletes itself at the last Release; one on the stack is
// simply destroyed at the end of its scope. Names cross the interface as OEM
// text. Cursor walks end with E_OUTOFMEMORY and a null out pointer.

#include "server/storage/attributes/AttributeFilter.h"
#include "server/storage/attributes/AttributeQueryEngine.h"
#include "server/storage/attributes/AttributeRecord.h"
#include "server/storage/attributes/AttributeText.h"
#include "server/storage/attributes/ClassReferenceCount.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CAttribute;
class CAttributeList;
class CAttributeQuery;

class CAttributeDirectory {
public:
    // How deep sub-directories nest; a stream that nests deeper is refused.
    static constexpr unsigned kMaxDepth = 16;

    CAttributeDirectory();
    CAttributeDirectory(const CAttributeDirectory&) = delete;
    CAttributeDirectory& operator=(const CAttributeDirectory&) = delete;

    virtual ~CAttributeDirectory();
    virtual ULONG AddRef();
    virtual ULONG Release();
    // A new list of every attribute.
    virtual HRESULT GetAllAttributes(CAttributeList** list);
    // Offers every attribute to the filter; the taken ones form a new list.
    // With first (may be null), the list's first attribute.
    virtual HRESULT FindAttributes(AttributeFilter filter, std::uintptr_t userData, CAttributeList** list,
                                   CAttribute** first);
    virtual HRESULT QueryAttributes(CAttributeQuery* query, CAttributeList** list, CAttribute** first);
    // attribute may be null. unique 1: E_FAIL when an equal attribute exists.
    virtual HRESULT CreateAttribute(const char* name, LONG appId, LONG id, CAttribute** attribute, BYTE unique);
    // The new sub-directory with one reference for the caller.
    virtual HRESULT CreateDirectory(const char* name, CAttributeDirectory** directory);
    // Any letter case; one reference for the caller; E_FAIL when absent.
    virtual HRESULT GetDirectory(const char* name, CAttributeDirectory** directory);
    virtual HRESULT AddRecord(const AttributeRecord* record, CAttribute** attribute, BYTE unique);
    virtual HRESULT AddAttributeCopy(CAttribute* source, CAttribute** attribute, BYTE unique);
    // A new sub-directory holding a copy of the source's content.
    virtual HRESULT CopyDirectory(const char* name, CAttributeDirectory* source, CAttributeDirectory** directory);
    virtual HRESULT AddFromDirectory(CAttributeDirectory* source, BYTE unique);
    virtual HRESULT AddFromList(CAttributeList* source, BYTE unique);
    // Marks the record removed: the directory's own record itself, or else
    // the first attribute equal to it.
    virtual HRESULT RemoveRecord(const AttributeRecord* record);
    virtual HRESULT RemoveAttribute(CAttribute* attribute);
    virtual HRESULT RemoveDirectory(const char* name);
    // Attributes and sub-directories that are not removed.
    virtual HRESULT GetCount(LONG* count);
    virtual HRESULT Clear();
    virtual HRESULT GetFirstAttribute(CAttribute** attribute);
    virtual HRESULT GetNextAttribute(CAttribute** attribute);
    virtual HRESULT GetPreviousAttribute(CAttribute** attribute);
    virtual HRESULT GetLastAttribute(CAttribute** attribute);
    // The sub-directory walk: the name as OEM text into name (at most size
    // bytes, always terminated); directory may be null for First and Next.
    virtual HRESULT GetFirstDirectoryName(CAttributeDirectory** directory, char* name, LONG size);
    virtual HRESULT GetNextDirectoryName(CAttributeDirectory** directory, char* name, LONG size);
    virtual HRESULT GetPreviousDirectoryName(CAttributeDirectory** directory, char* name, LONG size);
    virtual HRESULT GetLastDirectoryName(CAttributeDirectory** directory, char* name, LONG size);
    // 1 when this directory or any sub-directory changed since it was loaded or serialised.
    virtual HRESULT IsModified(BYTE* modified);
    virtual HRESULT SetModified(BYTE modified);
    virtual HRESULT GetSerializedSize(LONG* size);
    // size < needed: E_OUTOFMEMORY with the needed size (a null buffer with
    // size 0 asks for it). Clears the modified flags.
    virtual HRESULT Serialize(BYTE* buffer, LONG* size);
    // Adds the records of a stream (callers clear first). A damaged stream
    // gives STG_E_PROPSETMISMATCHED and keeps the records read before the damage.
    virtual HRESULT LoadFromBuffer(const BYTE* buffer, LONG length);

    // About what loading the stream would allocate in all: each record is
    // copied, and a sub-directory's records once more inside it, so nesting
    // multiplies a stream's size. Walks the headers only; a damaged part
    // counts as far as it reads.
    static unsigned long long LoadCost(const BYTE* buffer, std::size_t length);
    // Keeps a charge (what a load took from a budget) until the directory is
    // cleared or gone.
    void HoldLoadCharge(std::shared_ptr<const void> charge) { loadCharge_ = std::move(charge); }

    // Counts every change, so a list can tell that its indexes went stale
    // even after the modified flag was cleared by a save.
    unsigned long long ChangeCount() const { return changeCount_; }

private:
    struct SubDirectory {
        AttributeRecord* record;
        CAttributeDirectory* child;
    };
    using NameMap = std::map<std::string, CAttributeDirectory*, attrib::OemNameLess>;

    HRESULT InsertRecord(const AttributeRecord& r, BYTE unique, bool loading, AttributeRecord** inserted);
    HRESULT InsertAndHand(const AttributeRecord& r, CAttribute** attribute, BYTE unique);
    AttributeRecord* FindEqualRecord(const AttributeRecord& r) const;
    const SubDirectory* FindDirectoryRecord(const std::u16string& name) const;
    HRESULT MarkRecordRemoved(const AttributeRecord& r);
    HRESULT LoadStream(const BYTE* buffer, std::size_t length);
    HRESULT WriteStream(BYTE* out, std::size_t capacity, std::size_t& written);
    unsigned long long StreamBytes() const;
    bool AnyModified() const;
    void ReleaseChildren();
    void EnterChild(AttributeRecord* record, CAttributeDirectory* child);
    void ReindexName(const std::string& key);
    HRESULT HandAt(AttributeRecordSequence::iterator it, CAttribute** attribute);
    // The last visible record before end, or records_.end() when there is none.
    AttributeRecordSequence::iterator LastVisibleBefore(AttributeRecordSequence::iterator end);
    HRESULT DirectoryAt(std::size_t index, CAttributeDirectory** directory, char* name, LONG size);
    AttributeRecordSequence VisibleRecords() const;

    ClassInstanceCounter counter_{AttributeClass::Directory};
    std::atomic<LONG> refs_{1};
    AttributeRecordSequence records_; // owned
    AttributeRecordSequence::iterator cursor_;
    std::vector<SubDirectory> subdirectories_; // in the order they were added; one reference each
    static constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);
    std::size_t subdirectoryCursor_ = kNoPosition; // size(): past the last one
    NameMap names_;
    BYTE modified_ = 0;
    CAttributeQueryEngine queries_;
    unsigned depth_ = 0; // 0 for a directory that is nobody's sub-directory
    unsigned long long changeCount_ = 0;
    std::shared_ptr<const void> loadCharge_;
};
