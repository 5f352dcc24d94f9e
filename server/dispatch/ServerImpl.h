#pragma once
// One virtual server: a TCP port, a storage folder, and the objects that serve
// the calls arriving on that port.

#include "server/dispatch/BaseWLImpl.h"
#include "server/dispatch/CLInvokeImpl.h"
#include "common/callrecord/InvokeData.h"
#include "platform/file/FolderLock.h"
#include "server/dispatch/SnapinRecord.h"
#include "server/dispatch/ULInvokeImpl.h"
#include "server/dispatch/WinFileImpl.h"
#include "server/dispatch/WinLogImpl.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CServerImpl {
public:
    explicit CServerImpl(LONG port);
    CServerImpl(const CServerImpl&) = delete;
    CServerImpl& operator=(const CServerImpl&) = delete;

    // HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), with nothing done, when a
    // configuration save holds the storage folder: the server must not start.
    virtual HRESULT Initialize(const char* folder, size_t length);
    // Ends by letting the storage folder go.
    virtual HRESULT Shutdown();
    virtual HRESULT InvokeFunction(CInvokeData* record);

    // Answers code 1006 for names holding ".checkin"; true when it did.
    bool OnCheckinHook(CInvokeData* record);

    LONG Port() const { return port_; }
    const std::string& StorageFolder() const { return storageFolder_; }
    const GUID& ServerGuid() const { return serverGuid_; }
    ITQLog* Log() { return &log_; }
    IFileIO2* Files() { return &files_; }

    // Storage folder of a server initialised without one.
    static std::string DefaultStorageFolder();
    // Folder of the snap-in libraries that code 8 installs: beside the program.
    static std::string SnapinFolder();

protected:
    // Snap-in routing for the codes no built-in handler takes.
    HRESULT RouteToSnapin(CInvokeData* record);
    HRESULT OnQuerySnapinCode(CInvokeData* record);
    HRESULT OnInstallSnapin(CInvokeData* record);
    void LoadSnapins();
    void UnloadSnapins();
    // A server without an identity (it could not be made or stored) has no
    // own callers: the nil GUID is what every unknown caller presents.
    bool IsOwnCaller(const CInvokeData& record) const
    {
        return serverGuid_ != GUID_NULL && record.callerGuid == serverGuid_;
    }
    HRESULT InstallSnapin(CInvokeData* record);

private:
    bool FileDeletesAllowed() const;
    HRESULT RefuseFileDelete(CInvokeData* record);
    // An internal call with one STRING in-item, straight to a list dispatcher.
    template <typename Handlers>
    HRESULT InternalListCall(Handlers& handlers, DWORD code, const char* fileName);

    CWinLogImpl log_;
    CWinFileImpl files_;
    CULInvokeImpl userList_;
    CCLInvokeImpl computerList_;
    CBaseWLImpl settings_;
    // Routing reads a snapshot without a lock; code 8 publishes a new list.
    using SnapinList = std::vector<std::shared_ptr<SnapinRecord>>;
    std::atomic<std::shared_ptr<const SnapinList>> snapins_{std::make_shared<const SnapinList>()};
    std::mutex snapinChange_;
    GUID serverGuid_ = GUID_NULL;
    LONG port_;
    std::string storageFolder_;
    // Held shared while serving, so that no save moves the folder under us.
    CFolderLock folderLock_;
};

// The machine's server identity, shared by every virtual server; created in
// the registry on first use. All zeros when the registry can't hold it.
void GetServerGuid(BYTE guid[16]);
