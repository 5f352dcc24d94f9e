#include "console/core/StoredConfiguration.h"

#include "common/Names.h"
#include "console/core/RegistryValue.h"
#include "console/core/StorageFolder.h"

#include <algorithm>
#include <tuple>

namespace {

// The names of the stored records in their order.
LONG ReadStoredNames(std::vector<std::string>& names)
{
    HKEY servers = nullptr;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, tq::kVirtualServersKey, 0, KEY_READ, &servers);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    // Subkey names are at most 255 bytes in our registry, so one buffer holds any.
    std::vector<char> name(256);
    for (DWORD index = 0;; ++index) {
        DWORD size = static_cast<DWORD>(name.size());
        error = RegEnumKeyExA(servers, index, name.data(), &size);
        if (error != ERROR_SUCCESS)
            break;
        names.emplace_back(name.data(), size);
    }
    RegCloseKey(servers);
    return error == static_cast<LONG>(ERROR_NO_MORE_ITEMS) ? static_cast<LONG>(ERROR_SUCCESS) : error;
}

auto Fields(const CVirtualServer& server)
{
    return std::tuple<const std::string&, const std::string&, const std::string&, DWORD>(
        server.Name(), server.StorageFolder(), server.Description(), server.Port());
}

} // namespace

LONG CStoredConfiguration::Read()
{
    defaultFolder_ = ReadRegistryString(HKEY_LOCAL_MACHINE, tq::kWardlakeKey, tq::kStorageFolderValue).value_or("");
    servers_.clear();
    std::vector<std::string> names;
    readError_ = ReadStoredNames(names);
    folders_.assign(1, {CVirtualServer::kDefaultName, defaultFolder_});
    for (const std::string& name : names) {
        CVirtualServer server;
        if (server.Load(name) == S_OK)
            servers_.push_back(std::move(server));
        const std::string key = CVirtualServer::KeyPath(name);
        if (auto folder = ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), tq::kStorageFolderValue))
            folders_.push_back({name, *folder});
    }
    return readError_;
}

bool CStoredConfiguration::Names(const std::string& folder) const
{
    return std::any_of(folders_.begin(), folders_.end(),
                       [&folder](const NamedFolder& named) { return SameFolder(named.folder, folder); });
}

bool CStoredConfiguration::Protects(const std::string& folder) const
{
    return std::any_of(folders_.begin(), folders_.end(), [&folder](const NamedFolder& named) {
        return SameFolder(named.folder, folder) || FolderInside(named.folder, folder);
    });
}

std::optional<std::string> CStoredConfiguration::FolderOf(const std::string& server) const
{
    for (const NamedFolder& named : folders_)
        if (named.server == server)
            return named.folder;
    return std::nullopt;
}

void CStoredConfiguration::Follow(const std::string& server, const std::string& folder)
{
    for (NamedFolder& named : folders_)
        if (named.server == server)
            named.folder = folder;
}

const CVirtualServer* CStoredConfiguration::Find(const std::string& name) const
{
    for (const CVirtualServer& server : servers_)
        if (server.Name() == name)
            return &server;
    return nullptr;
}

bool CStoredConfiguration::operator==(const CStoredConfiguration& other) const
{
    if (readError_ != ERROR_SUCCESS || other.readError_ != ERROR_SUCCESS || defaultFolder_ != other.defaultFolder_ ||
        servers_.size() != other.servers_.size())
        return false;
    return std::all_of(servers_.begin(), servers_.end(), [&other](const CVirtualServer& server) {
        const CVirtualServer* same = other.Find(server.Name());
        return same != nullptr && Fields(*same) == Fields(server);
    });
}
