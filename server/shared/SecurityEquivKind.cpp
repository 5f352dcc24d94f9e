#include "server/shared/SecurityEquivKind.h"

const char* SecurityEquivKindText(DWORD kind)
{
    switch (kind) {
    case SecurityEquivComputer:
        return "Computer";
    case SecurityEquivUser:
        return "User";
    default:
        return "Default";
    }
}
