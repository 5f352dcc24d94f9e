#pragma once
// Numbers of the connection-oriented remote procedure call protocol as it runs
// over TCP (protocol sequence "ncacn_ip_tcp"): packet types, header flags,
// negotiation results, reject reasons, fault codes and the transfer syntaxes.
// These are wire values shared with every peer; never renumber them.

#include "platform/win/Guid.h"
#include "platform/win/WinTypes.h"

namespace rpc {

enum class PduType : BYTE {
    Request = 0,
    Response = 2,
    Fault = 3,
    Bind = 11,
    BindAck = 12,
    BindNak = 13,
    AlterContext = 14,
    AlterContextResp = 15,
    Auth3 = 16,
    Shutdown = 17,
    CoCancel = 18,
    Orphaned = 19,
};

constexpr BYTE kVersionMajor = 5;
constexpr BYTE kVersionMinorMax = 1;  // 5.0 and 5.1 are both in use

constexpr size_t kCommonHeaderSize = 16;
constexpr size_t kRequestHeaderSize = 24;  // 40 with an object UUID
constexpr size_t kResponseHeaderSize = 24;
constexpr size_t kFaultPduSize = 32;
constexpr size_t kSecTrailerSize = 8;

// Every peer must take fragments of this size.
constexpr USHORT kMustRecvFragSize = 1432;

// Header flags.
constexpr BYTE PFC_FIRST_FRAG = 0x01;
constexpr BYTE PFC_LAST_FRAG = 0x02;
constexpr BYTE PFC_PENDING_CANCEL = 0x04;  // PFC_SUPPORT_HEADER_SIGN on bind-type PDUs
constexpr BYTE PFC_CONC_MPX = 0x10;
constexpr BYTE PFC_DID_NOT_EXECUTE = 0x20;
constexpr BYTE PFC_MAYBE = 0x40;
constexpr BYTE PFC_OBJECT_UUID = 0x80;

// Results of one presentation context.
constexpr USHORT kResultAcceptance = 0;
constexpr USHORT kResultUserRejection = 1;
constexpr USHORT kResultProviderRejection = 2;
constexpr USHORT kResultNegotiateAck = 3;  // answer to bind-time feature negotiation

// Provider reasons of a rejected presentation context.
constexpr USHORT kReasonNotSpecified = 0;
constexpr USHORT kReasonAbstractSyntaxNotSupported = 1;
constexpr USHORT kReasonTransferSyntaxesNotSupported = 2;
constexpr USHORT kReasonLocalLimitExceeded = 3;

// Reasons of a bind_nak.
constexpr USHORT kNakReasonNotSpecified = 0;
constexpr USHORT kNakTemporaryCongestion = 1;
constexpr USHORT kNakLocalLimitExceeded = 2;
constexpr USHORT kNakProtocolVersionNotSupported = 4;
constexpr USHORT kNakAuthenticationTypeNotRecognized = 8;
constexpr USHORT kNakInvalidChecksum = 9;

// Bind-time feature bits (first octet of the syntax's last eight).
constexpr BYTE kFeatureSecurityContextMultiplexing = 0x01;
constexpr BYTE kFeatureKeepConnectionOnOrphan = 0x02;

// Fault status codes as they travel in fault PDUs.
constexpr ULONG nca_s_fault_int_div_by_zero = 0x1C000001;
constexpr ULONG nca_s_fault_addr_error = 0x1C000002;
constexpr ULONG nca_s_fault_invalid_tag = 0x1C000006;
constexpr ULONG nca_s_fault_invalid_bound = 0x1C000007;
constexpr ULONG nca_s_fault_cancel = 0x1C00000D;
constexpr ULONG nca_s_fault_unspec = 0x1C000012;
constexpr ULONG nca_s_fault_context_mismatch = 0x1C00001A;
constexpr ULONG nca_s_fault_remote_no_memory = 0x1C00001B;
constexpr ULONG nca_s_op_rng_error = 0x1C010002;
constexpr ULONG nca_s_unk_if = 0x1C010003;
constexpr ULONG nca_s_proto_error = 0x1C01000B;
constexpr ULONG nca_s_server_too_busy = 0x1C010014;
constexpr ULONG nca_s_fault_ndr = 0x000006F7;

// The four octets of a packet's data representation label.
struct DataRep {
    BYTE bytes[4] = {0x10, 0x00, 0x00, 0x00};  // little-endian, ASCII, IEEE

    bool BigEndian() const { return (bytes[0] & 0xF0) == 0x00; }
    bool Ascii() const { return (bytes[0] & 0x0F) == 0x00; }
    bool IeeeFloat() const { return bytes[1] == 0x00; }

    static DataRep LittleEndian() { return DataRep{}; }
    static DataRep BigEndianRep() { return DataRep{{0x00, 0x00, 0x00, 0x00}}; }

    friend bool operator==(const DataRep&, const DataRep&) = default;
};

// An interface or transfer syntax: UUID and version.
struct SyntaxId {
    GUID uuid{};
    USHORT major = 0;
    USHORT minor = 0;

    friend bool operator==(const SyntaxId&, const SyntaxId&) = default;
};

// NDR 2.0, the one transfer syntax served.
inline const SyntaxId kNdr20{{0x8A885D04, 0x1CEB, 0x11C9, {0x9F, 0xE8, 0x08, 0x00, 0x2B, 0x10, 0x48, 0x60}}, 2, 0};
// NDR64, which 64-bit clients propose besides NDR 2.0.
inline const SyntaxId kNdr64{{0x71710533, 0xBEBA, 0x4937, {0x83, 0x19, 0xB5, 0xDB, 0xEF, 0x9C, 0xCC, 0x36}}, 1, 0};

// Bind-time feature negotiation: a transfer syntax whose UUID starts with this
// prefix carries the client's feature bits in its last eight octets.
constexpr ULONG kFeatureNegotiationData1 = 0x6CB71C2C;
constexpr USHORT kFeatureNegotiationData2 = 0x9812;
constexpr USHORT kFeatureNegotiationData3 = 0x4540;

inline bool IsFeatureNegotiation(const SyntaxId& s)
{
    return s.uuid.Data1 == kFeatureNegotiationData1 && s.uuid.Data2 == kFeatureNegotiationData2 &&
           s.uuid.Data3 == kFeatureNegotiationData3;
}

inline SyntaxId FeatureNegotiationSyntax(BYTE features)
{
    SyntaxId s{{kFeatureNegotiationData1, kFeatureNegotiationData2, kFeatureNegotiationData3, {features}}, 1, 0};
    return s;
}

} // namespace rpc
