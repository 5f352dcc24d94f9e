#pragma once
// The local account database: the users of the passwd file and the groups
// of the group file (network accounts that other name services add are not
// local and are not read). Each read takes the files as they are now.

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>
#include <vector>

class CLocalAccountDatabase {
public:
    struct User {
        std::string name;
        unsigned long uid = 0;
        unsigned long gid = 0;
    };
    struct Group {
        std::string name;
        unsigned long gid = 0;
        std::vector<std::string> members;
    };

    explicit CLocalAccountDatabase(std::string passwdFile = "/etc/passwd", std::string groupFile = "/etc/group");

    // Failure: the file cannot be read (HRESULT of the errno's Win32 error).
    HRESULT ReadUsers(std::vector<User>& users) const;
    HRESULT ReadGroups(std::vector<Group>& groups) const;

    // One line of each file; false for comments, blank lines, the "+"/"-"
    // lines of other name services and lines that are not well formed.
    static bool ParseUserLine(std::string_view line, User& user);
    static bool ParseGroupLine(std::string_view line, Group& group);

    // The members of group: its listed members, then the users whose primary
    // group it is; each once, and only those that are users.
    static std::vector<std::string> MembersOf(const Group& group, const std::vector<User>& users);

private:
    std::string passwdFile_;
    std::string groupFile_;
};
