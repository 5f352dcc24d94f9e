#include "platform/seh/FaultFrame.h"

#include <unwind.h>

#if defined(__x86_64__)

struct dwarf_eh_bases {
    void* tbase;
    void* dbase;
    void* func;
};
// Exported by the unwinder; null when no unwind data covers pc.
extern "C" const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);

namespace {

constexpr int kMaxFrames = 64;

// DWARF numbers of the registers a call preserves, and their slots in gregs.
constexpr int kDwarfRbx = 3, kDwarfRbp = 6, kDwarfR12 = 12;
constexpr int kPreservedGregs[] = {REG_RBX, REG_RBP, REG_R12, REG_R13, REG_R14, REG_R15};
constexpr int kPreservedDwarf[] = {kDwarfRbx, kDwarfRbp, kDwarfR12, kDwarfR12 + 1, kDwarfR12 + 2, kDwarfR12 + 3};

constexpr unsigned char DW_EH_PE_omit = 0xff;

bool HasUnwindData(uintptr_t pc)
{
    dwarf_eh_bases bases{};
    return _Unwind_Find_FDE(reinterpret_cast<void*>(pc), &bases) != nullptr;
}

uint64_t ReadLeb128(const unsigned char*& p, bool isSigned)
{
    uint64_t v = 0;
    int shift = 0;
    unsigned char byte;
    do {
        byte = *p++;
        if (shift < 64)
            v |= uint64_t{byte & 0x7fu} << shift;
        shift += 7;
    } while ((byte & 0x80) != 0);
    if (isSigned && shift < 64 && (byte & 0x40) != 0)
        v |= ~uint64_t{0} << shift;
    return v;
}

// Reads one value of the LSDA's encodings; false for one it does not know.
bool ReadEncoded(const unsigned char*& p, unsigned char encoding, uint64_t& value)
{
    auto fixed = [&](int size, bool isSigned) {
        uint64_t v = 0;
        for (int i = 0; i < size; ++i)
            v |= uint64_t{p[i]} << (8 * i);
        if (isSigned && size < 8 && (v >> (8 * size - 1)) != 0)
            v |= ~uint64_t{0} << (8 * size);
        p += size;
        value = v;
        return true;
    };
    switch (encoding & 0x0f) {
    case 0x00: return fixed(8, false); // absptr
    case 0x01: value = ReadLeb128(p, false); return true;
    case 0x02: return fixed(2, false);
    case 0x03: return fixed(4, false);
    case 0x04: return fixed(8, false);
    case 0x09: value = ReadLeb128(p, true); return true;
    case 0x0a: return fixed(2, true);
    case 0x0b: return fixed(4, true);
    case 0x0c: return fixed(8, true);
    default: return false;
    }
}

enum FrameKind {
    kPassesThrough, // no table, or a site without handlers: unwinding goes on
    kStopsUnwind,   // the table does not cover the instruction: terminate
    kMayCatch,      // a site with handlers; the search for a catch may end here
};

// A table that cannot be read counts as passing through: the frame is then
// left as it is.
FrameKind Classify(_Unwind_Context* context)
{
    const auto* p = static_cast<const unsigned char*>(_Unwind_GetLanguageSpecificData(context));
    if (p == nullptr)
        return kPassesThrough;
    int beforeInsn = 0;
    uint64_t ip = _Unwind_GetIPInfo(context, &beforeInsn);
    if (beforeInsn == 0)
        --ip;
    const uint64_t start = _Unwind_GetRegionStart(context);
    uint64_t skip = 0;
    unsigned char lpStartEncoding = *p++;
    if (lpStartEncoding != DW_EH_PE_omit && !ReadEncoded(p, lpStartEncoding, skip))
        return kPassesThrough;
    unsigned char typeEncoding = *p++;
    if (typeEncoding != DW_EH_PE_omit && !ReadEncoded(p, 0x01, skip))
        return kPassesThrough;
    unsigned char siteEncoding = *p++;
    uint64_t tableLength = 0;
    if (!ReadEncoded(p, 0x01, tableLength))
        return kPassesThrough;
    const unsigned char* end = p + tableLength;
    while (p < end) {
        uint64_t siteStart = 0, siteLength = 0, landingPad = 0, action = 0;
        if (!ReadEncoded(p, siteEncoding, siteStart) || !ReadEncoded(p, siteEncoding, siteLength) ||
            !ReadEncoded(p, siteEncoding, landingPad) || !ReadEncoded(p, 0x01, action))
            return kPassesThrough;
        if (ip < start + siteStart)
            return kStopsUnwind; // the table is sorted: no later site holds ip
        if (ip < start + siteStart + siteLength)
            return action != 0 ? kMayCatch : kPassesThrough;
    }
    return kStopsUnwind;
}

// The frames from the faulting one outwards, up to the first that may catch.
struct Walk {
    uintptr_t faultIp;
    bool inFault = false; // seen the faulting frame
    int count = 0;
    int lastStop = -1; // the outermost frame seen that would stop the unwinder
    uint64_t ip[kMaxFrames];
    uint64_t sp[kMaxFrames]; // the frame's stack pointer at its instruction
    uint64_t preserved[kMaxFrames][6];
};

_Unwind_Reason_Code Visit(_Unwind_Context* context, void* arg)
{
    auto& walk = *static_cast<Walk*>(arg);
    if (!walk.inFault) {
        int beforeInsn = 0;
        uintptr_t ip = _Unwind_GetIPInfo(context, &beforeInsn);
        if (beforeInsn == 0 || ip != walk.faultIp)
            return _URC_NO_REASON; // the handler's own frames
        walk.inFault = true;
    }
    int i = walk.count++;
    walk.ip[i] = _Unwind_GetIP(context);
    // The unwinder's CFA of a context is that of the frame it came from,
    // which is this frame's stack pointer.
    walk.sp[i] = _Unwind_GetCFA(context);
    for (int r = 0; r < 6; ++r)
        walk.preserved[i][r] = _Unwind_GetGR(context, kPreservedDwarf[r]);
    FrameKind kind = Classify(context);
    if (kind == kStopsUnwind)
        walk.lastStop = i;
    return kind == kMayCatch || walk.count == kMaxFrames ? _URC_END_OF_STACK : _URC_NO_REASON;
}

} // namespace

void MoveToUnwindableFrame(ucontext_t* uc, uintptr_t stackLow, uintptr_t stackHigh)
{
    greg_t* g = uc->uc_mcontext.gregs;
    // Code without unwind data, such as a jump through a null pointer: the
    // return address on top of the stack names the call that got there.
    if (!HasUnwindData(static_cast<uintptr_t>(g[REG_RIP]))) {
        auto sp = static_cast<uintptr_t>(g[REG_RSP]);
        if (stackLow == 0 || sp < stackLow || sp + sizeof(uintptr_t) > stackHigh)
            return;
        uintptr_t returnAddress = *reinterpret_cast<const uintptr_t*>(sp);
        if (returnAddress == 0 || !HasUnwindData(returnAddress - 1))
            return;
        // Inside the call instruction, where the caller's tables look it up.
        g[REG_RIP] = static_cast<greg_t>(returnAddress - 1);
        g[REG_RSP] = static_cast<greg_t>(sp + sizeof(uintptr_t));
    }

    Walk walk{};
    walk.faultIp = static_cast<uintptr_t>(g[REG_RIP]);
    _Unwind_Backtrace(Visit, &walk);
    int target = walk.lastStop + 1;
    if (walk.lastStop < 0 || target >= walk.count)
        return; // nothing in the way, or nothing better found
    // Registers as the call in frame `target` left them: its preserved
    // registers, its stack pointer, the call instruction itself.
    for (int r = 0; r < 6; ++r)
        g[kPreservedGregs[r]] = static_cast<greg_t>(walk.preserved[target][r]);
    g[REG_RSP] = static_cast<greg_t>(walk.sp[target]);
    g[REG_RIP] = static_cast<greg_t>(walk.ip[target] - 1);
}

#else

void MoveToUnwindableFrame(ucontext_t*, uintptr_t, uintptr_t) {}

#endif
