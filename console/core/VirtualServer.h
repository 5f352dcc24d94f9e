#pragma once
// One virtual server of the configuration the console edits: a subkey of
// "Virtual Servers" (or, for the built-in Default record, the main key).

#include "platform/win/WinTypes.h"

#include <string>

class CVirtualServer {
public:
    static constexpr DWORD kDefaultPort = 34347;
    static constexpr const char* kDefaultName = "Default";
    static constexpr const char* kDefaultDescription = "Default server. Cannot be modified or deleted.";
    static constexpr DWORD kMinPort = 1024;
    static constexpr DWORD kMaxPort = 65535;
    // Copied from the Default server's folder into every new folder.
    static constexpr const char* kAdminSettingsFile = "appmgr.ad";

    CVirtualServer() = default;
    // The previous storage folder starts equal to the storage folder.
    CVirtualServer(std::string name, std::string storageFolder, std::string description, DWORD port,
                   bool readOnly);
    virtual ~CVirtualServer() = default;

    // Reads "Virtual Servers\<name>": E_FAIL when the subkey cannot be opened;
    // a value that cannot be read leaves its field as it was.
    HRESULT Load(const std::string& name);

    // Writes the record's subkey, then moves or creates its storage folder
    // (copying "appmgr.ad" from the Default record's folder into a new one).
    HRESULT Save(const CVirtualServer& defaultServer);

    // E_ACCESSDENIED for the read-only record.
    HRESULT SetName(const std::string& name);
    HRESULT SetDescription(const std::string& description);
    // E_INVALIDARG outside 1024 to 65535.
    HRESULT SetPort(DWORD port);
    // Remembers the current folder as the one to move when it exists on disk.
    HRESULT SetStorageFolder(const std::string& folder);

    const std::string& Name() const { return name_; }
    const std::string& StorageFolder() const { return storageFolder_; }
    const std::string& PreviousStorageFolder() const { return previousStorageFolder_; }
    const std::string& Description() const { return description_; }
    DWORD Port() const { return port_; }
    bool IsReadOnly() const { return readOnly_; }

    // The display copy of the port, formatted just before it is shown.
    const std::string& FormatPortText();
    const std::string& PortText() const { return portText_; }

private:
    std::string name_;
    std::string storageFolder_;
    std::string previousStorageFolder_;
    std::string description_;
    std::string portText_;
    DWORD port_ = 0;
    bool readOnly_ = false;
};
