#include "server/dispatch/ServerImpl.h"

#include "common/Names.h"
#include "server/dispatch/CallItems.h"
#include "platform/file/File.h"
#include "platform/file/FileSystem.h"
#include "platform/registry/Registry.h"
#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"
#include "platform/win/StringCompare.h"
#include "platform/win/Time.h"

#include "platform/win/Process.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kFolderCapacity = MAX_PATH - 1;
constexpr DWORD kNameBuffer = 260;

// Code 1005's refusal is logged from a fixed site.
constexpr int kDeleteRefusedLine = 192;

std::string ServerIdentityKey()
{
    char key[MAX_PATH];
    std::snprintf(key, sizeof key, tq::kClsidKeyFormat, tq::kServerIdentityClass);
    return key;
}

bool InRange(DWORD code, DWORD low, DWORD high)
{
    return code >= low && code <= high;
}

} // namespace

void GetServerGuid(BYTE guid[16])
{
    std::memset(guid, 0, 16);
    const std::string keyName = ServerIdentityKey();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD type = REG_NONE;
        BYTE value[16] = {};
        DWORD size = sizeof value;
        LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, value, &size);
        RegCloseKey(key);
        if (rc == ERROR_SUCCESS && type == REG_BINARY) {
            std::memcpy(guid, value, size < 16 ? size : 16);
            return;
        }
    }
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    GUID fresh{};
    RPC_STATUS status = UuidCreate(&fresh);
    if (status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY) {
        GuidToBytes(fresh, guid);
        RegSetValueExA(key, nullptr, 0, REG_BINARY, guid, 16);
    }
    RegCloseKey(key);
}

CServerImpl::CServerImpl(LONG port) : log_(static_cast<DWORD>(port)), port_(port) {}

std::string CServerImpl::DefaultStorageFolder()
{
    return StateRoot() + "/tqc/winserver/";
}

template <typename Handlers>
HRESULT CServerImpl::InternalListCall(Handlers& handlers, DWORD code, const char* fileName)
{
    CInvokeData call(code);
    call.PushInString(fileName);
    HRESULT hr = handlers.Dispatch(&call);
    if (SUCCEEDED(hr))
        hr = call.result;
    char line[MAX_PATH + 64];
    std::snprintf(line, sizeof line, "%s %s: 0x%08X", SUCCEEDED(hr) ? "Opened" : "Failed to open", fileName,
                  static_cast<unsigned>(hr));
    log_.LogMessage(line);
    return hr;
}

HRESULT CServerImpl::Initialize(const char* folder, size_t length)
{
    try {
        std::string text = folder == nullptr || length == 0 ? DefaultStorageFolder() : std::string(folder, length);
        storageFolder_ = text.substr(0, std::min(text.size(), kFolderCapacity));
        // A folder that is missing or cannot be opened is served unlocked, as
        // it always was; only a save's hold keeps the server out.
        if (!folderLock_.TryLock(storageFolder_.c_str(), CFolderLock::Mode::Shared) &&
            GetLastError() == ERROR_SHARING_VIOLATION)
            return HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
        files_.SetFolder(&log_, storageFolder_.c_str());

        userList_.SetUp(&log_, &files_, 2);
        settings_.SetUp(&log_, &files_);
        computerList_.SetUp(&log_, &files_);

        BYTE guid[16];
        GetServerGuid(guid);
        serverGuid_ = GuidFromBytes(guid);

        LoadSnapins();

        // A list that fails to open leaves the server serving all the same.
        InternalListCall(userList_, 2001, "userlist.fdb");
        InternalListCall(computerList_, 4001, "complist.fdb");
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CServerImpl::Shutdown()
{
    try {
        InternalListCall(userList_, 2002, "userlist.fdb");
        InternalListCall(computerList_, 4002, "complist.fdb");
        UnloadSnapins();
    } catch (...) {
    }
    // Last: the service reports stopped after this, and a save waiting for
    // that must find the folder free.
    folderLock_.Unlock();
    return 0;
}

HRESULT CServerImpl::InvokeFunction(CInvokeData* record)
{
    try {
        const DWORD code = record->functionCode;
        if (code == 1006) {
            if (OnCheckinHook(record))
                return S_OK;
            return files_.Dispatch(record);
        }
        if (code == 7)
            return OnQuerySnapinCode(record);
        if (code == 8)
            return OnInstallSnapin(record);
        if (code == 9)
            return E_NOTIMPL;
        if (InRange(code, 1, 799))
            return settings_.Dispatch(record);
        if (code == 1005) {
            if (!FileDeletesAllowed())
                return RefuseFileDelete(record);
            return files_.Dispatch(record);
        }
        if (InRange(code, 1000, 1999))
            return files_.Dispatch(record);
        if (InRange(code, 2000, 2999) && code != 2001)
            return userList_.Dispatch(record);
        if (InRange(code, 4000, 4999) && code != 4001)
            return computerList_.Dispatch(record);
        return RouteToSnapin(record);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool CServerImpl::FileDeletesAllowed() const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE, value = 0, size = sizeof value;
    LONG rc = RegQueryValueExA(key, tq::kAllowFileDeletesValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD && size == 4 && value != 0;
}

HRESULT CServerImpl::RefuseFileDelete(CInvokeData* record)
{
    char name[kNameBuffer];
    record->PopString(name, sizeof name);
    record->result = E_ACCESSDENIED;
    char message[kNameBuffer + 16];
    std::snprintf(message, sizeof message, "DeleteFile(%s)", name);
    log_.LogCall(LogCallEnd, static_cast<int>(record->functionCode), GetCallerGuidText(*record).c_str(), message,
                 E_ACCESSDENIED, "ServerImpl", "CServerImpl::InvokeFunction_CServerImpl", kDeleteRefusedLine);
    return S_OK;
}

bool CServerImpl::OnCheckinHook(CInvokeData* record)
{
    char name[kNameBuffer];
    record->PopString(name, sizeof name);
    const char* suffix = std::strstr(name, ".checkin");
    if (suffix == nullptr) {
        record->PushInString(name);
        return false;
    }
    std::string computer(name, static_cast<size_t>(suffix - name));

    SYSTEMTIME now{};
    GetLocalTime(&now);
    char timeText[64];
    std::snprintf(timeText, sizeof timeText, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);

    CInvokeData checkin(4010);
    checkin.PushInString(computer.c_str());
    checkin.PushInDword(4);
    checkin.PushInDword(9);
    checkin.PushInString(timeText);
    InvokeFunction(&checkin);

    record->PushOutBytes(&now, sizeof now);
    record->result = S_OK;
    return true;
}

void CServerImpl::LoadSnapins()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    auto list = std::make_shared<SnapinList>(*snapins_.load());
    for (DWORD index = 0;; ++index) {
        char name[SnapinRecord::kNameCapacity + 1];
        BYTE path[MAX_PATH];
        DWORD nameSize = sizeof name, pathSize = sizeof path, type = REG_NONE;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, path, &pathSize) != ERROR_SUCCESS)
            break;
        path[sizeof path - 1] = 0;
        std::shared_ptr<SnapinRecord> record;
        try {
            if (SUCCEEDED(SnapinRecord::Load(reinterpret_cast<char*>(path), name, &log_, &files_, &record)))
                list->push_back(record);
        } catch (...) {
        }
    }
    RegCloseKey(key);
    snapins_.store(list);
}

void CServerImpl::UnloadSnapins()
{
    std::lock_guard<std::mutex> guard(snapinChange_);
    SnapinList owned = *snapins_.exchange(std::make_shared<const SnapinList>());
    // In list order: each record's last reference shuts its object down.
    for (auto& record : owned)
        record.reset();
}

HRESULT CServerImpl::RouteToSnapin(CInvokeData* record)
{
    const DWORD code = record->functionCode;
    std::shared_ptr<SnapinRecord> snapin;
    {
        auto list = snapins_.load();
        for (const auto& candidate : *list)
            if (candidate->HandlesCode(code)) {
                snapin = candidate;
                break;
            }
    }
    if (!snapin)
        return E_NOTIMPL;
    if (!IsOwnCaller(*record) && !snapin->AllowsAnyCaller(code))
        return E_ACCESSDENIED;

    std::vector<BYTE> request(record->GetEncodedSize(InvokeModeRequest));
    record->Encode(request.data(), static_cast<LONG>(request.size()), InvokeModeRequest);
    BYTE* reply = nullptr;
    LONG replyLength = 0;
    HRESULT hr = snapin->Object()->InvokeFunction(request.data(), static_cast<LONG>(request.size()), &reply,
                                                  &replyLength);
    request.clear();
    if (replyLength != 0 && reply != nullptr) {
        // A reply that does not decode leaves empty queues and the preset result.
        if (replyLength > 0)
            record->Decode(reply, static_cast<size_t>(replyLength));
        snapin->Object()->FreeBuffer(reply);
    }
    return hr;
}

HRESULT CServerImpl::OnQuerySnapinCode(CInvokeData* record)
{
    try {
        const DWORD code = PopDword(record);
        HRESULT hr = E_FAIL;
        for (const auto& snapin : *snapins_.load())
            if (snapin->HandlesCode(code)) {
                hr = S_OK;
                break;
            }
        record->result = hr;
        return hr;
    } catch (...) {
        record->result = E_UNEXPECTED;
        return E_UNEXPECTED;
    }
}

std::string CServerImpl::SnapinFolder()
{
    return GetModuleFolder() + "/Snapins";
}

namespace {

// The last component of a file name sent by a client; "" when nothing usable is left.
std::string LastNameComponent(const char* name)
{
    std::string text = name;
    auto cut = text.find_last_of("\\/");
    if (cut != std::string::npos)
        text = text.substr(cut + 1);
    if (text == "." || text == "..")
        return {};
    return text;
}

// The image goes to a fresh file renamed into place: a library still mapped
// by a running snap-in must never change under it.
void WriteSnapinImage(const std::string& path, const BYTE* image, DWORD length)
{
    std::string temp = path + ".new";
    CFile file;
    if (!file.Create(temp.c_str(), 0755))
        return;
    const bool written = file.Write(image, length);
    file.Close();
    if (written)
        RenamePath(temp.c_str(), path.c_str());
    else
        DeletePath(temp.c_str());
}

constexpr auto kUnloadWait = std::chrono::seconds(30);

} // namespace

HRESULT CServerImpl::OnInstallSnapin(CInvokeData* record)
{
    try {
        return InstallSnapin(record);
    } catch (...) {
        record->result = E_UNEXPECTED;
        return E_UNEXPECTED;
    }
}

HRESULT CServerImpl::InstallSnapin(CInvokeData* record)
{
    // Installing means running a library in the server: only the server's own
    // callers may do it.
    if (!IsOwnCaller(*record)) {
        record->result = E_ACCESSDENIED;
        return E_ACCESSDENIED;
    }
    char name[kNameBuffer];
    char fileName[kNameBuffer];
    DWORD imageLength = 0;
    record->PopString(name, sizeof name);
    record->PopString(fileName, sizeof fileName);
    const std::unique_ptr<BYTE[]> image = PopBytes(record, &imageLength);
    const DWORD replace = PopDword(record);

    const std::string file = LastNameComponent(fileName);
    if (file.empty()) {
        record->result = E_INVALIDARG;
        return E_INVALIDARG;
    }

    std::lock_guard<std::mutex> guard(snapinChange_);
    auto current = snapins_.load();
    auto list = std::make_shared<SnapinList>();
    std::shared_ptr<SnapinRecord> old;
    size_t oldIndex = 0;
    for (const auto& snapin : *current) {
        if (!old && StrCmpNIA(snapin->Name().c_str(), name, SnapinRecord::kNameCapacity + 1) == 0) {
            old = snapin;
            oldIndex = list->size();
        } else {
            list->push_back(snapin);
        }
    }
    if (old) {
        if (replace == 0) {
            record->result = E_ABORT;
            return S_OK;
        }
        // Unpublish, then wait for calls still inside the old snap-in to leave.
        snapins_.store(list);
        current.reset();
        std::shared_future<void> unloaded = old->Unloaded();
        std::weak_ptr<SnapinRecord> stillLoaded = old;
        old.reset();
        if (unloaded.wait_for(kUnloadWait) != std::future_status::ready) {
            // The old snap-in is still in use, so it is still there: it goes
            // back where it was rather than leaving its codes unserved.
            if (auto back = stillLoaded.lock()) {
                auto restored = std::make_shared<SnapinList>(*list);
                restored->insert(restored->begin() + static_cast<std::ptrdiff_t>(oldIndex), std::move(back));
                snapins_.store(restored);
                record->result = HRESULT_FROM_WIN32(ERROR_BUSY);
                return record->result;
            }
        }
    }

    const std::string folder = SnapinFolder();
    CreateFolders(folder);
    const std::string path = folder + "/" + file;
    WriteSnapinImage(path, image.get(), imageLength);

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kSnapinsKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(key);
    }

    // Loaded through a name of its own: a library that cannot be unloaded (or
    // one that another virtual server holds) would otherwise be found again
    // under the old name, and the new image would never run.
    static std::atomic<unsigned> installs{0};
    std::string loadPath = folder + "/." + file + "." + std::to_string(GetCurrentProcessId()) + "." +
                           std::to_string(++installs);
    if (!LinkPath(path.c_str(), loadPath.c_str()))
        loadPath = path;
    std::shared_ptr<SnapinRecord> loaded;
    HRESULT hr = SnapinRecord::Load(loadPath, name, &log_, &files_, &loaded);
    if (loadPath != path)
        DeletePath(loadPath.c_str());
    if (FAILED(hr)) {
        record->result = hr;
        return hr;
    }
    // Calls may be reading the list published above: the new one is a copy.
    auto next = std::make_shared<SnapinList>(*list);
    next->push_back(loaded);
    snapins_.store(next);
    record->result = S_OK;
    return S_OK;
}
