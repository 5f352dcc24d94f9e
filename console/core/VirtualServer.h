#pragma once
// One virtual server of the configuration the console edits: a subkey of
// "Virtual Servers" (or, for the built-in Default record, the main key).

#include "platform/win/WinTypes.h"

#include <string>

class CRegistryTransaction;

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
    CVirtualServer(std::string name, std::string storageFolder, std::string description, DWORD port,
                   bool readOnly);
    virtual ~CVirtualServer() = default;

    // The subkey of a record of that name, under HKEY_LOCAL_MACHINE.
    static std::string KeyPath(const std::string& name);

    // Reads "Virtual Servers\<name>": E_FAIL when the subkey cannot be opened;
    // a value that cannot be read leaves its field as it was.
    HRESULT Load(const std::string& name);

    // Adds the record's subkey to registry: the values that differ from
    // stored when that is the subkey it keeps (other values stay as they
    // are), else a new subkey with all three. Its folder is the save's
    // business, put in place before.
    void Save(CRegistryTransaction& registry, const CVirtualServer* stored) const;
    // The registry now holds the record under its name.
    void MarkSaved();

    // E_ACCESSDENIED for the read-only record.
    HRESULT SetName(const std::string& name);
    HRESULT SetDescription(const std::string& description);
    // E_INVALIDARG outside 1024 to 65535.
    HRESULT SetPort(DWORD port);
    // Where the record's data is on disk is the stored record's business: the
    // save moves it from there.
    HRESULT SetStorageFolder(const std::string& folder);

    const std::string& Name() const { return name_; }
    const std::string& StorageFolder() const { return storageFolder_; }
    const std::string& Description() const { return description_; }
    // The subkey the record was loaded from or last saved as; "" for a new one.
    const std::string& StoredName() const { return storedName_; }
    DWORD Port() const { return port_; }
    bool IsReadOnly() const { return readOnly_; }

    // The display copy of the port, formatted just before it is shown.
    const std::string& FormatPortText();
    const std::string& PortText() const { return portText_; }

private:
    std::string name_;
    std::string storageFolder_;
    std::string description_;
    std::string portText_;
    std::string storedName_;
    DWORD port_ = 0;
    bool readOnly_ = false;
};
