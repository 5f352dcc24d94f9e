#pragma once
// The configuration as the registry holds it: the Default server's folder and
// the stored virtual servers. A save compares it with what the console loaded
// or last saved, so that it never writes over what someone else stored since.

#include "console/core/VirtualServer.h"

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

    // The same Default folder and the same servers with the same name, port,
    // description and folder, in any order; never so when either could not be read.
    bool operator==(const CStoredConfiguration& other) const;

private:
    std::string defaultFolder_;
    std::vector<CVirtualServer> servers_;
    LONG readError_ = ERROR_SUCCESS;
};
