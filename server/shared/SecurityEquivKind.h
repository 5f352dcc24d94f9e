#pragma once
// Which group answered a security-equivalence question (code 2025).

#include "platform/win/WinTypes.h"

enum SecurityEquivKind : DWORD {
    SecurityEquivComputer = 1, // the computer's group
    SecurityEquivUser = 2,     // the user's group
    SecurityEquivDefault = 3,  // the default group
};

// The word the log shows: "Computer", "User", or "Default" for any other value.
const char* SecurityEquivKindText(DWORD kind);
