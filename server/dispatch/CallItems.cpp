#include "server/dispatch/CallItems.h"

#include <cstring>

std::string PopName(CInvokeData* record)
{
    char name[kCallNameSize];
    record->PopString(name, sizeof name);
    return name;
}

DWORD PopDword(CInvokeData* record)
{
    DWORD value = 0;
    record->PopDword(&value);
    return value;
}

std::unique_ptr<BYTE[]> PopBytes(CInvokeData* record, DWORD* length)
{
    BYTE* data = nullptr;
    record->PopBytes(&data, length);
    return std::unique_ptr<BYTE[]>(data);
}

std::unique_ptr<char[]> PopText(CInvokeData* record, DWORD* length)
{
    DWORD n = 0;
    auto bytes = PopBytes(record, &n);
    *length = n;
    if (bytes == nullptr)
        return nullptr;
    auto text = std::make_unique<char[]>(n + 1);
    std::memcpy(text.get(), bytes.get(), n);
    text[n] = '\0';
    return text;
}
