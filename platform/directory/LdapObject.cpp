#include "platform/directory/LdapObject.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapChildEnumerator.h"
#include "platform/directory/LdapDn.h"
#include "platform/directory/LdapMemberEnumerator.h"
#include "platform/directory/LdapPath.h"
#include "platform/directory/Utf.h"

CLdapObject::CLdapObject(std::shared_ptr<CLdapSession> session, LdapEntry entry)
    : session_(std::move(session)), entry_(std::move(entry))
{
    group_ = HasClassIn({"group", "groupOfNames", "groupOfUniqueNames", "groupOfMembers", "posixGroup"});
    user_ = HasClassIn({"user", "computer", "posixAccount"});
    container_ = group_ || HasClassIn({"organizationalUnit", "organization", "container", "domain", "domainDNS",
                                       "dcObject", "builtinDomain", "country", "locality"});
}

bool CLdapObject::HasClassIn(std::initializer_list<std::string_view> classes) const
{
    for (std::string_view c : classes)
        if (entry_.HasValue("objectClass", c))
            return true;
    return false;
}

bool CLdapObject::Answers(DirectoryFacet facet) const
{
    switch (facet) {
    case DirectoryFacet::Any:
        return true;
    case DirectoryFacet::Container:
        return container_;
    case DirectoryFacet::Group:
        return group_;
    case DirectoryFacet::User:
        return user_;
    }
    return false;
}

HRESULT CLdapObject::GetName(std::u16string& name) const
{
    std::string_view rdn = CLdapDn::FirstRdn(entry_.dn);
    if (rdn.empty())
        return E_ADS_PROPERTY_NOT_FOUND;
    name = Utf8ToUtf16(rdn);
    return S_OK;
}

HRESULT CLdapObject::GetClass(std::u16string& className) const
{
    const std::vector<std::string>* structural = entry_.Values("structuralObjectClass");
    if (structural != nullptr && !structural->empty()) {
        className = Utf8ToUtf16(structural->front());
        return S_OK;
    }
    const std::vector<std::string>* classes = entry_.Values("objectClass");
    if (classes == nullptr || classes->empty())
        return E_ADS_PROPERTY_NOT_FOUND;
    className = Utf8ToUtf16(classes->back());
    return S_OK;
}

HRESULT CLdapObject::GetPath(std::u16string& path) const
{
    path = CLdapPath::Format(session_->Server(), entry_.dn);
    return S_OK;
}

HRESULT CLdapObject::Get(std::u16string_view property, std::u16string& value) const
{
    const std::vector<std::string>* values = entry_.Values(Utf16ToUtf8(property));
    if (values == nullptr || values->empty())
        return E_ADS_PROPERTY_NOT_FOUND;
    value = Utf8ToUtf16(values->front());
    return S_OK;
}

HRESULT CLdapObject::ReadAttributes(std::vector<DirectoryAttribute>& attributes) const
{
    // Without the server's schema at hand, text is what reads as UTF-8 and
    // anything else is an octet string.
    for (const LdapEntry::Attribute& a : entry_.attributes) {
        DirectoryAttribute out;
        out.name = Utf8ToUtf16(a.name);
        bool text = true;
        for (const std::string& v : a.values)
            text = text && IsValidUtf8(v);
        out.type = text ? DirectoryValueCaseIgnoreString : DirectoryValueOctetString;
        for (const std::string& v : a.values) {
            DirectoryAttribute::Value value;
            if (text)
                value.text = Utf8ToUtf16(v);
            else
                value.bytes.assign(v.begin(), v.end());
            out.values.push_back(std::move(value));
        }
        attributes.push_back(std::move(out));
    }
    return S_OK;
}

HRESULT CLdapObject::EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& children) const
{
    if (!container_)
        return E_NOINTERFACE;
    children = std::make_unique<CLdapChildEnumerator>(session_, entry_.dn);
    return S_OK;
}

HRESULT CLdapObject::EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& members) const
{
    if (!group_)
        return E_NOINTERFACE;
    std::vector<std::string> dns;
    if (const auto* member = entry_.Values("member"))
        dns.insert(dns.end(), member->begin(), member->end());
    if (const auto* unique = entry_.Values("uniqueMember")) {
        // A unique member may carry "#'0101'B", a bit string naming one
        // incarnation of the entry; the dn is what comes before it.
        for (const std::string& v : *unique) {
            size_t hash = v.rfind("#'");
            bool bits = hash != std::string::npos && v.size() >= hash + 4 && v.compare(v.size() - 2, 2, "'B") == 0;
            dns.push_back(bits ? v.substr(0, hash) : v);
        }
    }
    std::vector<std::string> uids;
    if (const auto* memberUid = entry_.Values("memberUid"))
        uids = *memberUid;
    members = std::make_unique<CLdapMemberEnumerator>(session_, entry_.dn, std::move(dns), std::move(uids));
    return S_OK;
}
