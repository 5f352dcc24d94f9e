#pragma once
// One bound LDAP connection, shared by the objects and walks opened through
// it. Every wait on the server is bounded: the connect by
// kConnectTimeoutSeconds, every reply by kReplyTimeoutSeconds. After the
// connection fails or a reply does not come, every later request answers
// that failure at once. Results are LDAP result codes.

#include "platform/directory/LdapEntry.h"
#include "platform/directory/LdapPath.h"

#include <memory>
#include <string>
#include <vector>

struct ldap;
struct ldapmsg;

class CLdapSession {
public:
    static constexpr int kConnectTimeoutSeconds = 5;
    static constexpr int kReplyTimeoutSeconds = 10;
    static constexpr int kPageSize = 500;

    // Connects to the path's server and makes a simple bind; an empty user
    // and password bind anonymously.
    static int Open(const CLdapPath& where, const std::string& user, const std::string& password,
                    std::shared_ptr<CLdapSession>& session);
    ~CLdapSession();
    CLdapSession(const CLdapSession&) = delete;
    CLdapSession& operator=(const CLdapSession&) = delete;

    // "host[:port]" as the opening path wrote it.
    const std::string& Server() const { return server_; }

    // One entry by dn, with its user attributes and its structural class.
    int Read(const std::string& dn, LdapEntry& entry);
    // One page of the direct children of base. cookie: empty for the first
    // page, and empty again after the last one.
    int ReadChildren(const std::string& base, std::string& cookie, std::vector<LdapEntry>& entries);
    // The first entry under base that matches filter; LDAP_NO_SUCH_OBJECT
    // when there is none.
    int FindFirst(const std::string& base, const std::string& filter, LdapEntry& entry);
    // The root entry's naming contexts, its default context first when it
    // names one.
    int NamingContexts(std::vector<std::string>& contexts);

private:
    CLdapSession(ldap* ld, std::string server) : ld_(ld), server_(std::move(server)) {}
    int Search(const std::string& base, int scope, const std::string& filter, const char* const* attributes,
               int sizeLimit, std::string* cookie, std::vector<LdapEntry>& entries);
    // The first entry Search finds; LDAP_NO_SUCH_OBJECT when there is none.
    int SearchOne(const std::string& base, int scope, const std::string& filter, const char* const* attributes,
                  int sizeLimit, LdapEntry& entry);
    int Wait(int messageId, int all, ldapmsg*& result);
    int Bind(const std::string& user, const std::string& password);
    // The result of sending a request; a client-side failure ends the connection.
    int Sent(int rc);

    ldap* ld_;
    std::string server_;
    int broken_ = 0;
};
