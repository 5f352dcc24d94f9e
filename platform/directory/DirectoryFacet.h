#pragma once
// The faces a directory object can show: a container of children, a group
// of members, a user account. An object may show several, or none.

enum class DirectoryFacet {
    Any, // every object
    Container,
    Group,
    User,
};
