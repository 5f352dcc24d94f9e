// tqwlsetup: installation of the server on this machine (state root from
// TQ_STATE_ROOT), which the server program itself leaves to others.
//
//   tqwlsetup install <program> <storage folder> [--service]
//       registers the service TQWL, writes the AppID key (with "LocalService"
//       when --service is given: the program then runs under the service
//       controller; without it, it runs in its own process), the default
//       server's storage folder, and "Path", the folder under which the
//       console makes the folders of new virtual servers (the storage
//       folder's parent), and creates the storage folder
//   tqwlsetup seed <storage folder>
//       the same for a server run by hand: AppID key without "LocalService",
//       storage folder and "Path"; values already there are kept
//   tqwlsetup uninstall
//       removes the service and the AppID key; data stays
//
// Exit code 0 on success, 1 on a failure (reported on standard error), 2 on
// a usage error.

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "platform/scm/ServiceCommandLine.h"
#include "platform/scm/ServiceControl.h"
#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"
#include "platform/win/SystemMessage.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

int Fail(const char* what, DWORD error)
{
    std::string text = GetSystemMessageText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::fprintf(stderr, "tqwlsetup: %s: error %u: %s\n", what, error, text.c_str());
    return 1;
}

LONG SetText(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

bool HasValue(HKEY key, const char* name)
{
    DWORD type = 0, size = 0;
    return RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

// The AppID key, with or without "LocalService".
int WriteAppId(bool service)
{
    std::string path = std::string(tq::kAppIdKey) + "\\" + tq::kAppId;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS)
        return Fail("cannot write the AppID key", static_cast<DWORD>(rc));
    SetText(key, nullptr, tq::kServiceName);
    if (service)
        rc = SetText(key, tq::kLocalServiceValue, tq::kServiceName);
    else if (HasValue(key, tq::kLocalServiceValue))
        rc = RegDeleteValueA(key, tq::kLocalServiceValue);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot write LocalService", static_cast<DWORD>(rc));
}

// The folder that holds the storage folder: new virtual servers get theirs
// beside it.
std::string ParentFolder(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string parent = std::filesystem::path(folder).parent_path().string();
    return parent.empty() ? std::string("/") : parent;
}

// The default server's storage folder and the folder of new servers, each
// kept when set already unless replace is given.
int WriteStorageFolder(const std::string& folder, bool replace)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "tqwlsetup: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, KEY_ALL_ACCESS, &key);
    if (rc != ERROR_SUCCESS)
        return Fail("cannot write the server key", static_cast<DWORD>(rc));
    std::string withSlash = folder.back() == '/' ? folder : folder + "/";
    if (replace || !HasValue(key, tq::kStorageFolderValue))
        rc = SetText(key, tq::kStorageFolderValue, withSlash);
    if (rc != ERROR_SUCCESS) {
        RegCloseKey(key);
        return Fail("cannot write StorageFolder", static_cast<DWORD>(rc));
    }
    if (replace || !HasValue(key, tq::kPathValue))
        rc = SetText(key, tq::kPathValue, ParentFolder(folder));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : Fail("cannot write Path", static_cast<DWORD>(rc));
}

int RegisterService(const std::string& program)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return Fail("cannot open the service controller", GetLastError());
    const std::string command = MakeServiceCommandLine({program});
    SC_HANDLE service = CreateServiceA(manager, tq::kServiceName, tq::kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       command.c_str());
    DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (error == ERROR_SERVICE_EXISTS) {
        std::printf("service %s is registered already\n", tq::kServiceName);
        return 0;
    }
    return error == ERROR_SUCCESS ? 0 : Fail("cannot register the service", error);
}

int Uninstall()
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager != nullptr) {
        if (SC_HANDLE service = OpenServiceA(manager, tq::kServiceName, DELETE)) {
            if (!DeleteService(service))
                Fail("cannot remove the service", GetLastError());
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    std::string path = std::string(tq::kAppIdKey) + "\\" + tq::kAppId;
    LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
    if (rc != ERROR_SUCCESS && rc != static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return Fail("cannot remove the AppID key", static_cast<DWORD>(rc));
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: tqwlsetup install <program> <storage folder> [--service]\n"
                         "       tqwlsetup seed <storage folder>\n"
                         "       tqwlsetup uninstall\n");
    return 2;
}

std::string Absolute(const char* path)
{
    std::error_code ec;
    auto p = std::filesystem::absolute(path, ec);
    return ec ? std::string(path) : p.lexically_normal().string();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    int rc;
    if (command == "install" && (argc == 4 || (argc == 5 && std::strcmp(argv[4], "--service") == 0))) {
        const bool service = argc == 5;
        if ((rc = RegisterService(Absolute(argv[2]))) != 0 || (rc = WriteAppId(service)) != 0 ||
            (rc = WriteStorageFolder(Absolute(argv[3]), true)) != 0)
            return rc;
        std::printf("installed %s (%s) with storage folder %s; state root %s\n", tq::kServiceName,
                    service ? "runs as a service" : "runs in its own process", Absolute(argv[3]).c_str(),
                    StateRoot().c_str());
        return 0;
    }
    if (command == "seed" && argc == 3) {
        if ((rc = WriteAppId(false)) != 0 || (rc = WriteStorageFolder(Absolute(argv[2]), false)) != 0)
            return rc;
        return 0;
    }
    if (command == "uninstall" && argc == 2)
        return Uninstall();
    return Usage();
}
