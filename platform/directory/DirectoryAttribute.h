#pragma once
// One attribute of a directory object with all its values, as reading every
// attribute of an object gives it.

#include "platform/win/WinTypes.h"

#include <string>
#include <vector>

// The directory provider's numbers for value types.
enum DirectoryValueType : DWORD {
    DirectoryValueInvalid = 0,
    DirectoryValueDnString = 1,
    DirectoryValueCaseExactString = 2,
    DirectoryValueCaseIgnoreString = 3,
    DirectoryValuePrintableString = 4,
    DirectoryValueNumericString = 5,
    DirectoryValueBoolean = 6,
    DirectoryValueInteger = 7,
    DirectoryValueOctetString = 8,
    DirectoryValueUtcTime = 9,
    DirectoryValueLargeInteger = 10,
    DirectoryValueProviderSpecific = 11,
};

struct DirectoryAttribute {
    struct Value {
        std::u16string text;     // the string types
        std::vector<BYTE> bytes; // octet strings and provider-specific values
    };

    std::u16string name;
    DirectoryValueType type = DirectoryValueInvalid;
    std::vector<Value> values;
};
