#include "platform/directory/LocalAccountDatabase.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <fstream>
#include <unordered_set>

namespace {

std::vector<std::string_view> SplitFields(std::string_view line, char separator)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        size_t at = line.find(separator, start);
        fields.push_back(line.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos)
            return fields;
        start = at + 1;
    }
}

bool ParseId(std::string_view text, unsigned long& id)
{
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 0xFFFFFFFFul)
        return false;
    id = value;
    return true;
}

bool Skipped(std::string_view line)
{
    return line.empty() || line.front() == '#' || line.front() == '+' || line.front() == '-';
}

template <class Record, class Parse>
HRESULT ReadFile(const std::string& path, std::vector<Record>& out, Parse parse)
{
    errno = 0;
    std::ifstream in(path);
    if (!in) {
        int err = errno != 0 ? errno : ENOENT;
        return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        Record record;
        if (parse(line, record))
            out.push_back(std::move(record));
    }
    return S_OK;
}

} // namespace

CLocalAccountDatabase::CLocalAccountDatabase(std::string passwdFile, std::string groupFile)
    : passwdFile_(std::move(passwdFile)), groupFile_(std::move(groupFile))
{
}

bool CLocalAccountDatabase::ParseUserLine(std::string_view line, User& user)
{
    if (Skipped(line))
        return false;
    std::vector<std::string_view> f = SplitFields(line, ':');
    if (f.size() != 7 || f[0].empty() || !ParseId(f[2], user.uid) || !ParseId(f[3], user.gid))
        return false;
    user.name = f[0];
    return true;
}

bool CLocalAccountDatabase::ParseGroupLine(std::string_view line, Group& group)
{
    if (Skipped(line))
        return false;
    std::vector<std::string_view> f = SplitFields(line, ':');
    if (f.size() != 4 || f[0].empty() || !ParseId(f[2], group.gid))
        return false;
    group.name = f[0];
    group.members.clear();
    if (!f[3].empty())
        for (std::string_view m : SplitFields(f[3], ','))
            if (!m.empty())
                group.members.emplace_back(m);
    return true;
}

HRESULT CLocalAccountDatabase::ReadUsers(std::vector<User>& users) const
{
    return ReadFile(passwdFile_, users, ParseUserLine);
}

HRESULT CLocalAccountDatabase::ReadGroups(std::vector<Group>& groups) const
{
    return ReadFile(groupFile_, groups, ParseGroupLine);
}

std::vector<std::string> CLocalAccountDatabase::MembersOf(const Group& group, const std::vector<User>& users)
{
    std::unordered_set<std::string> known;
    for (const User& u : users)
        known.insert(u.name);
    std::vector<std::string> members;
    std::unordered_set<std::string> taken;
    for (const std::string& m : group.members)
        if (known.count(m) != 0 && taken.insert(m).second)
            members.push_back(m);
    for (const User& u : users)
        if (u.gid == group.gid && taken.insert(u.name).second)
            members.push_back(u.name);
    return members;
}
