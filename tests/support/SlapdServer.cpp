#include "tests/support/SlapdServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tqtest {

namespace {

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";
constexpr const char* kModules = "/usr/lib/ldap";
constexpr const char* kSchemas = "/etc/ldap/schema";

// Starts program with args, its output appended to log; -1 when it cannot.
// The child is killed when the test process ends, however it ends, so no
// server outlives a crashed or timed-out test.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls from here to exec.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        ::_exit(127);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
        ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

bool Accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

SlapdServer::~SlapdServer()
{
    Stop();
}

std::string SlapdServer::Unavailable()
{
    namespace fs = std::filesystem;
    if (::access(kSlapd, X_OK) != 0 || ::access(kSlapadd, X_OK) != 0)
        return "slapd is not installed on this machine (Debian package slapd); LDAP tests skipped";
    if (!fs::exists(fs::path(kModules) / "back_mdb.so"))
        return "slapd has no mdb backend module in /usr/lib/ldap; LDAP tests skipped";
    if (!fs::exists(fs::path(kSchemas) / "core.schema"))
        return "slapd's schema files are missing from /etc/ldap/schema; LDAP tests skipped";
    return {};
}

std::string SlapdServer::Server() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

std::string SlapdServer::Path(const std::string& dn) const
{
    return "LDAP://" + Server() + "/" + dn;
}

std::string SlapdServer::TestSchema()
{
    return "attributetype ( 1.3.6.1.4.1.4203.666.11.901.1 NAME 'sAMAccountName'\n"
           "  EQUALITY caseIgnoreMatch SUBSTR caseIgnoreSubstringsMatch\n"
           "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{256} SINGLE-VALUE )\n"
           "objectclass ( 1.3.6.1.4.1.4203.666.11.901.2.1 NAME 'user' SUP organizationalPerson STRUCTURAL\n"
           "  MAY ( sAMAccountName $ uid $ mail ) )\n"
           "objectclass ( 1.3.6.1.4.1.4203.666.11.901.2.2 NAME 'computer' SUP user STRUCTURAL )\n"
           "objectclass ( 1.3.6.1.4.1.4203.666.11.901.2.3 NAME 'group' SUP top STRUCTURAL\n"
           "  MUST cn MAY ( member $ sAMAccountName $ description ) )\n"
           "objectclass ( 1.3.6.1.4.1.4203.666.11.901.2.4 NAME 'container' SUP top STRUCTURAL\n"
           "  MUST cn MAY description )\n";
}

std::string SlapdServer::SampleLdif()
{
    return R"(dn: dc=example,dc=test
objectClass: dcObject
objectClass: organization
dc: example
o: Example

dn: ou=Sales,dc=example,dc=test
objectClass: organizationalUnit
ou: Sales

dn: ou=East,ou=Sales,dc=example,dc=test
objectClass: organizationalUnit
ou: East

dn: cn=Machines,ou=Sales,dc=example,dc=test
objectClass: container
cn: Machines

dn: cn=Alice Smith,ou=Sales,dc=example,dc=test
objectClass: user
cn: Alice Smith
sn: Smith
sAMAccountName: asmith

dn: cn=North/South,ou=East,ou=Sales,dc=example,dc=test
objectClass: container
cn: North/South

dn:: Y249SsO8cmdlbiBNw7xsbGVyLG91PUVhc3Qsb3U9U2FsZXMsZGM9ZXhhbXBsZSxkYz10ZXN0
objectClass: user
cn:: SsO8cmdlbiBNw7xsbGVy
sn: Mueller
sAMAccountName:: asO8cmdlbg==

dn: cn=Bob Jones,ou=Sales,dc=example,dc=test
objectClass: inetOrgPerson
cn: Bob Jones
sn: Jones
uid: bjones
jpegPhoto:: /9j/4AAQ

dn: uid=carol,ou=Sales,dc=example,dc=test
objectClass: inetOrgPerson
objectClass: posixAccount
cn: Carol White
sn: White
uid: carol
uidNumber: 2001
gidNumber: 3001
homeDirectory: /home/carol

dn: cn=WS01,ou=Sales,dc=example,dc=test
objectClass: computer
cn: WS01
sn: WS01
sAMAccountName: WS01$

dn: cn=Staff,ou=Sales,dc=example,dc=test
objectClass: groupOfNames
cn: Staff
member: cn=Alice Smith,ou=Sales,dc=example,dc=test
member: cn=Bob Jones,ou=Sales,dc=example,dc=test
member: cn=WS01,ou=Sales,dc=example,dc=test
member: cn=Ghost,ou=Sales,dc=example,dc=test

dn: cn=Ops,ou=Sales,dc=example,dc=test
objectClass: posixGroup
cn: Ops
gidNumber: 3001
memberUid: carol
memberUid: nobody-here
memberUid: *

dn: cn=Auditors,ou=Sales,dc=example,dc=test
objectClass: groupOfUniqueNames
cn: Auditors
uniqueMember: cn=Alice Smith,ou=Sales,dc=example,dc=test#'0101'B
uniqueMember: uid=carol,ou=Sales,dc=example,dc=test

dn: cn=Admins,ou=Sales,dc=example,dc=test
objectClass: group
cn: Admins
member: cn=Staff,ou=Sales,dc=example,dc=test

dn: cn=Printer1,ou=Sales,dc=example,dc=test
objectClass: device
cn: Printer1

dn: ou=Empty,dc=example,dc=test
objectClass: organizationalUnit
ou: Empty
)";
}

std::string SlapdServer::WriteConfig()
{
    const std::string& dir = folder_.Path();
    std::filesystem::create_directories(dir + "/db");
    if (!WriteFileText(dir + "/test.schema", TestSchema()))
        return "cannot write the test schema";
    std::string conf;
    for (const char* s : {"core", "cosine", "inetorgperson", "nis"})
        conf += std::string("include ") + kSchemas + "/" + s + ".schema\n";
    conf += "include " + dir + "/test.schema\n";
    conf += std::string("modulepath ") + kModules + "\nmoduleload back_mdb\n";
    conf += "pidfile " + dir + "/slapd.pid\nargsfile " + dir + "/slapd.args\n";
    conf += "database mdb\nmaxsize 33554432\n";
    conf += std::string("suffix \"") + kSuffix + "\"\n";
    conf += std::string("rootdn \"") + kAdminDn + "\"\n";
    conf += std::string("rootpw ") + kAdminPassword + "\n";
    conf += "directory " + dir + "/db\n";
    if (!WriteFileText(dir + "/slapd.conf", conf))
        return "cannot write slapd.conf";
    return {};
}

std::string SlapdServer::Start(const std::string& ldif)
{
    if (Running())
        return "slapd already runs";
    std::string why = Unavailable();
    if (!why.empty())
        return why;
    why = WriteConfig();
    if (!why.empty())
        return why;
    const std::string& dir = folder_.Path();
    std::string log = dir + "/slapd.log";
    if (!WriteFileText(dir + "/data.ldif", ldif))
        return "cannot write the LDIF";
    pid_t add = Spawn({kSlapadd, "-f", dir + "/slapd.conf", "-l", dir + "/data.ldif"}, log);
    int status = 0;
    if (add < 0 || ::waitpid(add, &status, 0) != add || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "slapadd failed:\n" + ReadFileText(log);
    // The port can be taken between choosing and binding it; try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        why = Launch();
        if (why.empty())
            return {};
    }
    return why;
}

std::string SlapdServer::Launch()
{
    const std::string& dir = folder_.Path();
    std::string log = dir + "/slapd.log";
    port_ = FreeTcpPort();
    std::string url = "ldap://127.0.0.1:" + std::to_string(port_) + "/";
    pid_ = Spawn({kSlapd, "-d", "0", "-h", url, "-f", dir + "/slapd.conf"}, log);
    if (pid_ < 0)
        return "cannot start slapd";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return "slapd ended at start:\n" + ReadFileText(log);
        }
        if (Accepts(port_))
            return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return "slapd did not accept connections within 20 s:\n" + ReadFileText(log);
}

void SlapdServer::Stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

void SlapdTest::SetUp()
{
    std::string why = SlapdServer::Unavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    std::string error = slapd_.Start(Ldif());
    ASSERT_EQ(error, "");
}

} // namespace tqtest
