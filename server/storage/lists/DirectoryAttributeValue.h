#pragma once
// One value of one attribute of a directory object, as text.

#include <string>

struct DirectoryAttributeValue {
    std::u16string attribute;
    std::u16string value;
};
