#include "platform/directory/LdapSession.h"

#include "platform/directory/SigpipeBlock.h"

#include <ldap.h>

#include <sys/time.h>

namespace {

const char* const kEntryAttributes[] = {"*", "structuralObjectClass", nullptr};
const char* const kRootAttributes[] = {"defaultNamingContext", "namingContexts", nullptr};

LdapEntry ParseEntry(LDAP* ld, LDAPMessage* message)
{
    LdapEntry entry;
    if (char* dn = ldap_get_dn(ld, message)) {
        entry.dn = dn;
        ldap_memfree(dn);
    }
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(ld, message, &ber); name != nullptr;
         name = ldap_next_attribute(ld, message, ber)) {
        LdapEntry::Attribute attribute{name, {}};
        if (berval** values = ldap_get_values_len(ld, message, name)) {
            for (berval** v = values; *v != nullptr; ++v)
                attribute.values.emplace_back((*v)->bv_val, (*v)->bv_len);
            ldap_value_free_len(values);
        }
        entry.attributes.push_back(std::move(attribute));
        ldap_memfree(name);
    }
    if (ber != nullptr)
        ber_free(ber, 0);
    return entry;
}

} // namespace

int CLdapSession::Open(const CLdapPath& where, const std::string& user, const std::string& password,
                      std::shared_ptr<CLdapSession>& session)
{
    LDAP* ld = nullptr;
    int rc = ldap_initialize(&ld, where.Uri().c_str());
    if (rc != LDAP_SUCCESS)
        return rc;
    std::shared_ptr<CLdapSession> made(new CLdapSession(ld, where.Server()));
    int version = LDAP_VERSION3;
    timeval connect{kConnectTimeoutSeconds, 0};
    timeval reply{kReplyTimeoutSeconds, 0};
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connect);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &reply);
    rc = made->Bind(user, password);
    if (rc != LDAP_SUCCESS)
        return rc;
    session = std::move(made);
    return LDAP_SUCCESS;
}

CLdapSession::~CLdapSession()
{
    CSigpipeBlock block;
    ldap_unbind_ext(ld_, nullptr, nullptr);
}

int CLdapSession::Bind(const std::string& user, const std::string& password)
{
    CSigpipeBlock block;
    berval credentials{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
    int id = 0;
    int rc = Sent(ldap_sasl_bind(ld_, user.c_str(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, &id));
    if (rc != LDAP_SUCCESS)
        return rc;
    LDAPMessage* result = nullptr;
    rc = Wait(id, LDAP_MSG_ALL, result);
    if (rc != LDAP_SUCCESS)
        return rc;
    int outcome = LDAP_OTHER;
    rc = ldap_parse_result(ld_, result, &outcome, nullptr, nullptr, nullptr, nullptr, 1);
    return rc != LDAP_SUCCESS ? rc : outcome;
}

int CLdapSession::Sent(int rc)
{
    if (rc < 0)
        broken_ = rc;
    return rc;
}

int CLdapSession::Wait(int messageId, int all, LDAPMessage*& result)
{
    timeval limit{kReplyTimeoutSeconds, 0};
    result = nullptr;
    int type = ldap_result(ld_, messageId, all, &limit, &result);
    if (type > 0)
        return LDAP_SUCCESS;
    if (type == 0) {
        ldap_abandon_ext(ld_, messageId, nullptr, nullptr);
        broken_ = LDAP_TIMEOUT;
    } else {
        int error = LDAP_SERVER_DOWN;
        ldap_get_option(ld_, LDAP_OPT_RESULT_CODE, &error);
        broken_ = error < 0 ? error : LDAP_SERVER_DOWN;
    }
    if (result != nullptr)
        ldap_msgfree(result);
    result = nullptr;
    return broken_;
}

int CLdapSession::Search(const std::string& base, int scope, const std::string& filter, const char* const* attributes,
                        int sizeLimit, std::string* cookie, std::vector<LdapEntry>& entries)
{
    if (broken_ != 0)
        return broken_;
    CSigpipeBlock block;
    LDAPControl* page = nullptr;
    if (cookie != nullptr) {
        berval value{static_cast<ber_len_t>(cookie->size()), cookie->data()};
        if (ldap_create_page_control(ld_, kPageSize, cookie->empty() ? nullptr : &value, 0, &page) != LDAP_SUCCESS)
            page = nullptr;
    }
    LDAPControl* controls[] = {page, nullptr};
    timeval serverLimit{kReplyTimeoutSeconds, 0};
    int id = 0;
    int rc = ldap_search_ext(ld_, base.c_str(), scope, filter.c_str(), const_cast<char**>(attributes), 0,
                             page != nullptr ? controls : nullptr, nullptr, &serverLimit, sizeLimit, &id);
    if (page != nullptr)
        ldap_control_free(page);
    if (cookie != nullptr)
        cookie->clear();
    if (Sent(rc) != LDAP_SUCCESS)
        return rc;
    LDAPMessage* result = nullptr;
    rc = Wait(id, LDAP_MSG_ALL, result);
    if (rc != LDAP_SUCCESS)
        return rc;
    for (LDAPMessage* m = ldap_first_entry(ld_, result); m != nullptr; m = ldap_next_entry(ld_, m))
        entries.push_back(ParseEntry(ld_, m));
    int outcome = LDAP_OTHER;
    LDAPControl** serverControls = nullptr;
    rc = ldap_parse_result(ld_, result, &outcome, nullptr, nullptr, nullptr, &serverControls, 1);
    if (serverControls != nullptr) {
        LDAPControl* response = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, serverControls, nullptr);
        ber_int_t estimate = 0;
        berval next{0, nullptr};
        if (cookie != nullptr && response != nullptr &&
            ldap_parse_pageresponse_control(ld_, response, &estimate, &next) == LDAP_SUCCESS) {
            if (next.bv_val != nullptr) {
                cookie->assign(next.bv_val, next.bv_len);
                ber_memfree(next.bv_val);
            }
        }
        ldap_controls_free(serverControls);
    }
    if (rc != LDAP_SUCCESS)
        return rc;
    // A server that stops at its size limit still gave the entries up to it.
    return outcome == LDAP_SIZELIMIT_EXCEEDED ? LDAP_SUCCESS : outcome;
}

int CLdapSession::SearchOne(const std::string& base, int scope, const std::string& filter,
                           const char* const* attributes, int sizeLimit, LdapEntry& entry)
{
    std::vector<LdapEntry> found;
    int rc = Search(base, scope, filter, attributes, sizeLimit, nullptr, found);
    if (rc != LDAP_SUCCESS)
        return rc;
    if (found.empty())
        return LDAP_NO_SUCH_OBJECT;
    entry = std::move(found.front());
    return LDAP_SUCCESS;
}

int CLdapSession::Read(const std::string& dn, LdapEntry& entry)
{
    return SearchOne(dn, LDAP_SCOPE_BASE, "(objectClass=*)", kEntryAttributes, 0, entry);
}

int CLdapSession::ReadChildren(const std::string& base, std::string& cookie, std::vector<LdapEntry>& entries)
{
    return Search(base, LDAP_SCOPE_ONELEVEL, "(objectClass=*)", kEntryAttributes, 0, &cookie, entries);
}

int CLdapSession::FindFirst(const std::string& base, const std::string& filter, LdapEntry& entry)
{
    return SearchOne(base, LDAP_SCOPE_SUBTREE, filter, kEntryAttributes, 1, entry);
}

int CLdapSession::NamingContexts(std::vector<std::string>& contexts)
{
    LdapEntry root;
    int rc = SearchOne("", LDAP_SCOPE_BASE, "(objectClass=*)", kRootAttributes, 0, root);
    if (rc != LDAP_SUCCESS)
        return rc;
    if (const auto* preferred = root.Values("defaultNamingContext"))
        contexts.insert(contexts.end(), preferred->begin(), preferred->end());
    if (const auto* all = root.Values("namingContexts"))
        contexts.insert(contexts.end(), all->begin(), all->end());
    return LDAP_SUCCESS;
}
