#pragma once
// One listed object of a directory container: its name and its path.

#include <string>

struct DirectoryEntry {
    std::u16string name;
    std::u16string path;
};
