#pragma once
// The snap-in contract: what a snap-in shared object exports and the object it
// hands back. Snap-in authors build against this folder's Snapin.h, FileIO.h,
// TQLog.h and SnapinTypes.h alone. The slot order of every interface here is fixed: snap-ins are
// built apart from the server.

#include "FileIO.h"
#include "TQLog.h"

// Any caller may use the code; any other flag limits it to the server's own callers.
constexpr DWORD SNAPIN_ANY_CALLER = 1;

struct SnapinFunctionEntry {
    DWORD functionCode;
    DWORD flag;
};
static_assert(sizeof(SnapinFunctionEntry) == 8);

class ISnapin {
public:
    // The table stays valid and unchanged until Shutdown.
    virtual HRESULT GetFunctionTable(SnapinFunctionEntry** table, LONG* count) = 0;
    virtual HRESULT Reserved() = 0;
    // Both interfaces stay valid until Shutdown.
    virtual HRESULT Initialize(ITQLog* log, IFileIO2* files) = 0;
    // request: a call record encoded as a request; *reply: an encoded call record or null.
    virtual HRESULT InvokeFunction(const BYTE* request, LONG requestLength, BYTE** reply, LONG* replyLength) = 0;
    virtual HRESULT FreeBuffer(BYTE* reply) = 0;
    virtual HRESULT Shutdown() = 0;

protected:
    ~ISnapin() = default;
};

// Exported by every snap-in under the name "CreateSnapinObject".
using CreateSnapinObjectFn = HRESULT (*)(ISnapin** snapin);
inline constexpr const char* kCreateSnapinObjectExport = "CreateSnapinObject";
