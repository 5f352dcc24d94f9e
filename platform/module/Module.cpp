#include "platform/module/Module.h"

#include "platform/win/DebugOutput.h"
#include "platform/win/LastError.h"

#include <dlfcn.h>

HMODULE LoadLibraryA(const char* path)
{
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        OutputDebugStringA(dlerror());
        OutputDebugStringA("\n");
        SetLastError(ERROR_MOD_NOT_FOUND);
    }
    return static_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE module, const char* name)
{
    void* symbol = module == nullptr ? nullptr : dlsym(module, name);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    return module != nullptr && dlclose(module) == 0 ? TRUE : FALSE;
}
