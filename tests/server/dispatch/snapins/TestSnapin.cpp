// A snap-in for the tests, built against the snap-in headers alone (no server
// library), with its own small call-record codec as a snap-in author would
// write it. Built twice: variant 'a' and variant 'b' claim different codes.

#include "Snapin.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#ifndef SNAPIN_VARIANT
#define SNAPIN_VARIANT 'a'
#endif

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFalse = 1;
constexpr HRESULT kCustomFailure = static_cast<HRESULT>(0x80041234u);

void Put32(std::vector<BYTE>& out, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

DWORD Get32(const BYTE* p)
{
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

struct Request {
    DWORD code = 0;
    std::vector<std::string> texts; // every in-item, as text
};

bool ParseRequest(const BYTE* data, LONG length, Request& req)
{
    if (length < 36)
        return false;
    req.code = Get32(data);
    DWORD count = Get32(data + 28);
    size_t pos = 36;
    for (DWORD i = 0; i < count; ++i) {
        if (pos + 8 > static_cast<size_t>(length))
            return false;
        DWORD len = Get32(data + pos);
        pos += 8;
        if (pos + len > static_cast<size_t>(length))
            return false;
        req.texts.emplace_back(reinterpret_cast<const char*>(data + pos), strnlen(reinterpret_cast<const char*>(data + pos), len));
        pos += len;
    }
    return true;
}

// A reply record: code, mode 1, reserved 0, nil GUID, result, STRING out-items.
BYTE* MakeReply(DWORD code, HRESULT result, const std::vector<std::string>& outs, LONG* length)
{
    std::vector<BYTE> out;
    Put32(out, code);
    Put32(out, 1);
    Put32(out, 0);
    out.insert(out.end(), 16, 0);
    Put32(out, 0);
    Put32(out, static_cast<DWORD>(outs.size()));
    Put32(out, static_cast<DWORD>(result));
    for (const auto& s : outs) {
        Put32(out, static_cast<DWORD>(s.size() + 1));
        Put32(out, 2);
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    BYTE* buf = new BYTE[out.size()];
    std::memcpy(buf, out.data(), out.size());
    *length = static_cast<LONG>(out.size());
    return buf;
}

#if SNAPIN_VARIANT == 'a'
SnapinFunctionEntry g_table[] = {
    {5001, 1}, {5002, 0}, {5003, 1}, {5004, 1}, {5005, 1}, {5006, 1}, {5100, 1}, {5300, 1}, {5400, 1},
};
#else
SnapinFunctionEntry g_table[] = {{5100, 1}, {5200, 1}, {5300, 1}};
#endif

class TestSnapin final : public ISnapin {
public:
    HRESULT GetFunctionTable(SnapinFunctionEntry** table, LONG* count) override
    {
        *table = g_table;
        *count = static_cast<LONG>(sizeof g_table / sizeof g_table[0]);
        return kOk;
    }
    HRESULT Reserved() override { return kOk; }
    HRESULT Initialize(ITQLog* log, IFileIO2* files) override
    {
        log_ = log;
        files_ = files;
        return kOk;
    }
    HRESULT InvokeFunction(const BYTE* request, LONG requestLength, BYTE** reply, LONG* replyLength) override
    {
        Request req;
        if (!ParseRequest(request, requestLength, req))
            return kCustomFailure;
        const std::string tag = std::string(1, SNAPIN_VARIANT) + ":" + std::to_string(req.code);
        switch (req.code) {
        case 5003:
            return kFalse;
        case 5004: {
            *reply = new BYTE[10]{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
            *replyLength = 10;
            return kOk;
        }
        case 5005:
            return kCustomFailure;
        case 5006: {
            char folder[260] = {};
            files_->GetFolder(folder, sizeof folder);
            log_->LogCall(1, 5006, "snapin", "Folder", 0, "TestSnapin", "TestSnapin::InvokeFunction", 1);
            *reply = MakeReply(req.code, kOk, {tag, folder}, replyLength);
            return kOk;
        }
        case 5300:
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            break;
        case 5400: // stays inside for the milliseconds its first item says
            std::this_thread::sleep_for(std::chrono::milliseconds(req.texts.empty() ? 0 : std::stol(req.texts[0])));
            break;
        default:
            break;
        }
        std::vector<std::string> outs{tag};
        outs.insert(outs.end(), req.texts.begin(), req.texts.end());
        *reply = MakeReply(req.code, kOk, outs, replyLength);
        return kOk;
    }
    HRESULT FreeBuffer(BYTE* reply) override
    {
        delete[] reply;
        return kOk;
    }
    HRESULT Shutdown() override
    {
        delete this;
        return kOk;
    }

private:
    ITQLog* log_ = nullptr;
    IFileIO2* files_ = nullptr;
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT CreateSnapinObject(ISnapin** snapin)
{
    *snapin = new TestSnapin;
    return kOk;
}
