#include "platform/win/Guid.h"

#include "platform/win/LittleEndian.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

RPC_STATUS UuidCreate(GUID* out)
{
    if (out == nullptr)
        return RPC_S_INVALID_ARG;
    BYTE bytes[16];
    std::ifstream urandom("/dev/urandom", std::ios::binary);
    if (!urandom.read(reinterpret_cast<char*>(bytes), sizeof bytes)) {
        try {
            std::random_device rd;
            for (auto& b : bytes)
                b = static_cast<BYTE>(rd());
        } catch (...) {
            return RPC_S_UUID_NO_ADDRESS;
        }
    }
    GUID g = GuidFromBytes(bytes);
    g.Data3 = static_cast<WORD>((g.Data3 & 0x0FFF) | 0x4000);   // version 4
    g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80); // RFC 4122 variant
    *out = g;
    return RPC_S_OK;
}

static std::string Format(const GUID& g, const char* fmt)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, fmt, g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string UuidToString(const GUID& guid)
{
    return Format(guid, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x");
}

std::string GuidToBracedString(const GUID& guid)
{
    return Format(guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}");
}

RPC_STATUS UuidFromString(const std::string& text, GUID* out)
{
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}')
        t = t.substr(1, 36);
    if (t.size() != 36 || out == nullptr)
        return RPC_S_INVALID_STRING_UUID;
    BYTE raw[16];
    int n = 0;
    for (size_t i = 0; i < t.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (t[i] != '-')
                return RPC_S_INVALID_STRING_UUID;
            ++i;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(t[i])) || !std::isxdigit(static_cast<unsigned char>(t[i + 1])))
            return RPC_S_INVALID_STRING_UUID;
        raw[n++] = static_cast<BYTE>(std::stoi(t.substr(i, 2), nullptr, 16));
        i += 2;
    }
    // The text is big-endian throughout; the first three fields are numbers in memory.
    GUID g{};
    g.Data1 = (DWORD(raw[0]) << 24) | (DWORD(raw[1]) << 16) | (DWORD(raw[2]) << 8) | raw[3];
    g.Data2 = static_cast<WORD>((raw[4] << 8) | raw[5]);
    g.Data3 = static_cast<WORD>((raw[6] << 8) | raw[7]);
    std::memcpy(g.Data4, raw + 8, 8);
    *out = g;
    return RPC_S_OK;
}

void GuidToBytes(const GUID& g, BYTE out[16])
{
    WriteLittleEndian16(WriteLittleEndian16(WriteLittleEndian32(out, g.Data1), g.Data2), g.Data3);
    std::memcpy(out + 8, g.Data4, 8);
}

GUID GuidFromBytes(const BYTE in[16])
{
    GUID g{};
    g.Data1 = ReadLittleEndian32(in);
    g.Data2 = ReadLittleEndian16(in + 4);
    g.Data3 = ReadLittleEndian16(in + 6);
    std::memcpy(g.Data4, in + 8, 8);
    return g;
}
