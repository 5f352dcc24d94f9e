#pragma once
// A throwaway LDAP server for tests: slapd on a free loopback port, run from
// a temporary folder with its own configuration, schema and database, loaded
// from LDIF before it starts, and stopped at destruction. Tests that need one
// derive from SlapdTest, which skips them when the machine has no slapd.

#include "tests/support/TestSupport.h"

#include <string>
#include <sys/types.h>

namespace tqtest {

class SlapdServer {
public:
    static constexpr const char* kSuffix = "dc=example,dc=test";
    static constexpr const char* kAdminDn = "cn=admin,dc=example,dc=test";
    static constexpr const char* kAdminPassword = "secret";

    SlapdServer() = default;
    ~SlapdServer();
    SlapdServer(const SlapdServer&) = delete;
    SlapdServer& operator=(const SlapdServer&) = delete;

    // Why no slapd can run on this machine; empty when one can.
    static std::string Unavailable();

    // Loads ldif into a fresh database under kSuffix and starts the server;
    // empty on success, else what went wrong (with slapd's own output).
    std::string Start(const std::string& ldif);
    // Ends the server (TERM, then KILL after 5 s); the port is then dead.
    void Stop();

    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    // "127.0.0.1:<port>", the server part of this server's paths.
    std::string Server() const;
    // "LDAP://127.0.0.1:<port>/<dn>".
    std::string Path(const std::string& dn) const;

    // A schema with what the standard ones lack: the classes user, computer
    // (a kind of user), group and container, and the sAMAccountName attribute.
    static std::string TestSchema();
    // ou=Sales with a sub-unit, a container, users of several kinds, a
    // computer, groups of every kind, a device; under its ou=East a container
    // with "/" in its name and a user with a non-ASCII name; and an empty
    // ou=Empty.
    static std::string SampleLdif();

private:
    std::string WriteConfig();
    std::string Launch();

    TempFolder folder_;
    pid_t pid_ = -1;
    int port_ = 0;
};

class SlapdTest : public ::testing::Test {
protected:
    void SetUp() override;
    // What the server is loaded with; the sample directory unless overridden.
    virtual std::string Ldif() const { return SlapdServer::SampleLdif(); }

    SlapdServer slapd_;
};

} // namespace tqtest
