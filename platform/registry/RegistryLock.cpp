#include "platform/registry/RegistryLock.h"

#include "platform/registry/RegistryHiveAccess.h"

CRegistryLock::CRegistryLock() : error_(HoldRegistryFile()) {}

CRegistryLock::~CRegistryLock()
{
    if (error_ == static_cast<LONG>(ERROR_SUCCESS))
        ReleaseRegistryFile();
}
