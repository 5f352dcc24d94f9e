#pragma once
// The configuration as the registry holds it: the Default server's folder and
// the stored virtual servers. A save compares it with what the console loaded
// or last saved, so that it never writes over what someone else stored since.

#include "console/core/VirtualServer.h"

#include <optional>
#include <string>
#include <vector>

class CStoredConfiguration {
public:
    // Reads it afresh: ERROR_SUCCESS (also without the main key or any
    // servers), or why the list of servers cannot be read.
    LONG Read();

    const std::string& DefaultFolder() const { return defaultFolder_; }
    // In the registry's order.
    const std::vector<CVirtualServer>& Servers() const { return servers_; }
    // The server stored under exactly that name; null when there is none.
    const CVirtualServer* Find(const std::string& name) const;

    // The folders the stored records name: the Default's (as "Default")
    // first, then every stored server's, also of a record that is not whole
    // otherwise, since none of them may ever be removed or moved from under it.
    struct NamedFolder {
        std::string server;
        std::string folder;
    };
    const std::vector<NamedFolder>& Folders() const { return folders_; }
    // Whether a stored record names that folder (the same folder on disk).
    bool Names(const std::string& folder) const;
    // Whether it, or a folder inside it, is named: nothing may remove or move it.
    bool Protects(const std::string& folder) const;
    // The folder the record of that server names, when there is such a record.
    std::optional<std::string> FolderOf(const std::string& server) const;
    // A record changed to name folder in a registry change made meanwhile.
    void Follow(const std::string& server, const std::string& folder);

    // The same Default folder and the same servers with the same name, port,
    // description and folder, in any order; never so when either could not be read.
    bool operator==(const CStoredConfiguration& other) const;

private:
    std::string defaultFolder_;
    std::vector<CVirtualServer> servers_;
    std::vector<NamedFolder> folders_;
    LONG readError_ = ERROR_SUCCESS;
};
