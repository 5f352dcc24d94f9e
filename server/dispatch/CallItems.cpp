#include "server/dispatch/CallItems.h"

std::string PopName(CInvokeData* record)
{
    char name[kCallNameSize];
    record->PopString(name, sizeof name);
    return name;
}
