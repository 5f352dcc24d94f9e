#include "server/storage/lists/ADsBrowser.h"

#include "platform/directory/ComputerName.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"

#include <memory>

namespace {

// Provider bytes read as UTF-16LE text up to a NUL unit or their end.
std::u16string ProviderText(const std::vector<BYTE>& bytes)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

} // namespace

CADsBrowser::CADsBrowser() = default;

CADsBrowser::CADsBrowser(const DirectoryEntryPoints& entries) : entries_(entries) {}

std::string CADsBrowser::NarrowText(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit <= 0xFF) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i;
        out.push_back('?');
    }
    return out;
}

std::u16string CADsBrowser::WidenText(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

HRESULT CADsBrowser::SetConfig(const char* server, const char* account, const char* password, const char* container)
{
    auto widen = [](const char* text) { return WidenText(text != nullptr ? std::string_view(text) : std::string_view()); };
    server_ = widen(server);
    account_ = widen(account);
    password_ = widen(password);
    container_ = widen(container);
    connected_ = false;
    return S_OK;
}

std::u16string CADsBrowser::DefaultLdapPath() const
{
    std::u16string path = u"LDAP://" + server_;
    if (!container_.empty())
        path += u"/" + container_;
    return path;
}

HRESULT CADsBrowser::LdapPathFor(const char* path, std::u16string& where) const
{
    where = WidenText(path != nullptr ? path : "");
    if (where.empty()) {
        where = DefaultLdapPath();
        return S_OK;
    }
    std::u16string server = u"LDAP://" + server_;
    if (!StartsWithNoCase(where, server) || (where.size() > server.size() && where[server.size()] != u'/'))
        return E_ACCESSDENIED;
    return S_OK;
}

HRESULT CADsBrowser::Prepare(const char* path, std::u16string& where)
{
    HRESULT hr = LdapPathFor(path, where);
    if (SUCCEEDED(hr) && !connected_)
        hr = Connect();
    return hr;
}

HRESULT CADsBrowser::MissingEntry() const
{
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

void CADsBrowser::AppendAttributes(const IDirectoryObject& object, std::vector<DirectoryAttributeValue>& values,
                                   HRESULT& hr)
{
    std::vector<DirectoryAttribute> attributes;
    hr = object.ReadAttributes(attributes);
    if (FAILED(hr))
        return;
    for (const DirectoryAttribute& a : attributes) {
        for (const DirectoryAttribute::Value& v : a.values) {
            DirectoryAttributeValue out{a.name, {}};
            if (a.type >= DirectoryValueDnString && a.type <= DirectoryValueNumericString)
                out.value = v.text;
            else if (a.type == DirectoryValueProviderSpecific)
                out.value = ProviderText(v.bytes);
            values.push_back(std::move(out));
        }
    }
}

HRESULT CADsBrowser::Connect()
{
    if (entries_.openObject == nullptr)
        return MissingEntry();
    std::unique_ptr<IDirectoryObject> object;
    HRESULT hr = entries_.openObject(DefaultLdapPath(), account_, password_, DirectoryFacet::Any, object);
    if (SUCCEEDED(hr)) {
        connected_ = true;
        // What the bound object holds is read once as a check of the
        // binding; nothing keeps it, and its outcome does not count.
        std::vector<DirectoryAttributeValue> ignored;
        HRESULT readResult;
        AppendAttributes(*object, ignored, readResult);
    }
    return hr;
}

HRESULT CADsBrowser::ReadObjectAttributes(const char* path, std::vector<DirectoryAttributeValue>& values)
{
    std::u16string where;
    HRESULT hr = Prepare(path, where);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<IDirectoryObject> object;
    hr = entries_.openObject(where, account_, password_, DirectoryFacet::Any, object);
    if (SUCCEEDED(hr))
        AppendAttributes(*object, values, hr);
    object.reset();
    if (!values.empty())
        return S_OK;
    return FAILED(hr) ? hr : E_OUTOFMEMORY;
}

HRESULT CADsBrowser::EnumerateLdapContainer(const char* path, std::vector<DirectoryEntry>& containers,
                                            std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                                            std::vector<DirectoryEntry>& computers)
{
    if (server_.empty())
        return EnumerateWinNTContainer(path, containers, groups, users, computers);
    std::u16string where;
    HRESULT hr = Prepare(path, where);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<IDirectoryObject> object;
    hr = entries_.openObject(where, account_, password_, DirectoryFacet::Container, object);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<IDirectoryEnumerator> items;
    hr = object->Answers(DirectoryFacet::Group) ? object->EnumerateMembers(items) : object->EnumerateChildren(items);
    object.reset();
    if (FAILED(hr))
        return hr;
    return Walk(*items, true, containers, groups, users, computers);
}

HRESULT CADsBrowser::EnumerateWinNTContainer(const char* path, std::vector<DirectoryEntry>& containers,
                                             std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                                             std::vector<DirectoryEntry>& computers)
{
    if (entries_.getObject == nullptr)
        return MissingEntry();
    std::u16string where = WidenText(path != nullptr ? path : "");
    if (where.empty()) {
        char name[MAX_PATH] = {};
        DWORD size = sizeof name;
        if (!GetComputerNameA(name, &size))
            name[0] = '\0';
        where = u"WinNT://" + WidenText(name);
    } else if (!StartsWithNoCase(where, u"WinNT://")) {
        // Another provider would be reached with the service's own identity.
        return E_ADS_BAD_PATHNAME;
    }
    std::unique_ptr<IDirectoryObject> object;
    HRESULT hr = entries_.getObject(where, DirectoryFacet::Any, object);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<IDirectoryEnumerator> items;
    if (object->Answers(DirectoryFacet::Group))
        hr = object->EnumerateMembers(items);
    else if (object->Answers(DirectoryFacet::Container))
        hr = object->EnumerateChildren(items);
    else
        hr = E_FAIL;
    object.reset();
    if (FAILED(hr))
        return hr;
    return Walk(*items, false, containers, groups, users, computers);
}

HRESULT CADsBrowser::Walk(IDirectoryEnumerator& items, bool ldap, std::vector<DirectoryEntry>& containers,
                          std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                          std::vector<DirectoryEntry>& computers)
{
    for (bool first = true;; first = false) {
        std::unique_ptr<IDirectoryObject> item;
        HRESULT hr = items.Next(item);
        // A failure of the first step is the walk's; a later one ends it.
        if (FAILED(hr) && first)
            return hr;
        if (hr != S_OK || item == nullptr)
            break;
        Classify(*item, ldap, containers, groups, users, computers);
    }
    bool none = containers.empty() && groups.empty() && users.empty() && computers.empty();
    return none ? E_OUTOFMEMORY : S_OK;
}

void CADsBrowser::Classify(const IDirectoryObject& item, bool ldap, std::vector<DirectoryEntry>& containers,
                           std::vector<DirectoryEntry>& groups, std::vector<DirectoryEntry>& users,
                           std::vector<DirectoryEntry>& computers)
{
    DirectoryEntry entry;
    std::u16string className;
    if (FAILED(item.GetName(entry.name)))
        entry.name.clear();
    // "CN=Sales" is listed as "Sales".
    size_t equals = entry.name.find(u'=');
    if (equals != std::u16string::npos)
        entry.name.erase(0, equals + 1);
    if (FAILED(item.GetPath(entry.path)))
        entry.path.clear();
    if (FAILED(item.GetClass(className)))
        className.clear();

    if (item.Answers(DirectoryFacet::Group)) {
        groups.push_back(std::move(entry));
    } else if (item.Answers(DirectoryFacet::User)) {
        if (EqualsNoCase(className, u"computer")) {
            computers.push_back(std::move(entry));
            return;
        }
        std::u16string account;
        if (ldap && SUCCEEDED(item.Get(u"SAMAccountName", account)))
            entry.name = std::move(account);
        users.push_back(std::move(entry));
    } else if (EqualsNoCase(className, u"inetOrgPerson")) {
        users.push_back(std::move(entry));
    } else if (item.Answers(DirectoryFacet::Container)) {
        containers.push_back(std::move(entry));
    }
}
