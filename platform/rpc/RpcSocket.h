#pragma once
// A connected TCP socket that reads whole fragments: a read buffer the
// fragments are parsed in place from, waits bounded by time, and sends that
// hand many pieces to the kernel at once. Used by both the server's
// connections and the client.

#include "platform/rpc/RpcPdu.h"

#include <chrono>
#include <span>
#include <string>

struct iovec;

class CRpcSocket {
public:
    enum class Io { Ok, Closed, TimedOut, Failed };
    static constexpr int kWaitForever = -1;

    CRpcSocket() = default;
    explicit CRpcSocket(int fd);
    ~CRpcSocket();
    CRpcSocket(const CRpcSocket&) = delete;
    CRpcSocket& operator=(const CRpcSocket&) = delete;

    // Connects to host:port within timeoutMs, from the numeric local address
    // source when one is given; sets TCP_NODELAY. The status is
    // RPC_S_SERVER_UNAVAILABLE when no address answers in time.
    RPC_STATUS Connect(const std::string& host, int port, int timeoutMs, const std::string& source = {});
    // Takes over an accepted socket (non-blocking, TCP_NODELAY set here).
    void Attach(int fd);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Capacity of the read buffer; it grows for a larger fragment and takes
    // this size again when next allocated. Moves what is buffered: not while
    // a fragment from ReadPdu is in use.
    void SetReadBufferSize(size_t bytes);
    size_t ReadBufferSize() const { return capacity_; }
    // Gives the read buffer's memory back when nothing is buffered (a quiet
    // connection); the next read allocates it again.
    void ReleaseReadBuffer();

    // Reads the next fragment. Waits up to firstMs for its first byte (none
    // counts as TimedOut), then up to restMs for the rest. On Ok, h holds the
    // header and check its framing verdict against maxFragment; pdu holds
    // the whole fragment only when check is Ok. The fragment stays valid
    // until ConsumePdu.
    Io ReadPdu(size_t maxFragment, int firstMs, int restMs, rpc::PduHeader& h, rpc::HeaderCheck& check,
               std::span<const BYTE>& pdu);
    // ReadPdu in two steps, so that a body can go straight where it is
    // wanted. The first waits as ReadPdu does and reads the header and the
    // fragment's first prefix bytes (fewer when it is shorter); start holds
    // them only when check is Ok, until the next read. Without readAhead, a
    // fragment that has not begun to arrive is received no further than the
    // prefix, so that its body is left for ReadPduBody. Then one of: the rest
    // into the buffer, as ReadPdu's pdu (until ConsumePdu); or the bytes after
    // the prefix to out, which consumes the fragment. A failed read leaves the
    // stream where it broke: the connection is good for closing only.
    Io ReadPduStart(size_t maxFragment, size_t prefix, int firstMs, int restMs, rpc::PduHeader& h,
                    rpc::HeaderCheck& check, std::span<const BYTE>& start, bool readAhead = true);
    Io ReadPduRest(std::span<const BYTE>& pdu);
    Io ReadPduBody(BYTE* out);
    void ConsumePdu();
    // Bytes read ahead and not yet consumed.
    size_t Buffered() const { return end_ - begin_ - current_; }
    // Whether anything (data, the peer's close, an error) waits to be read,
    // without waiting.
    bool HasInput();

    // Sends every piece; false when the peer is gone or made no progress for
    // timeoutMs.
    bool SendAll(const struct iovec* pieces, int count, int timeoutMs);
    bool SendAll(const void* data, size_t size, int timeoutMs);

    // Stops reads (a blocked ReadPdu returns Closed) from another thread;
    // sending still works.
    void ShutdownRead();

private:
    using Clock = std::chrono::steady_clock;
    Io Fill(size_t need, Clock::time_point deadline);
    // Receives at most limit bytes into the empty buffer.
    Io ReceiveFirst(int waitMs, size_t limit);
    // Where the rest of the fragment being read must have come by.
    Clock::time_point RestDeadline();
    bool Reallocate(size_t bytes);
    bool SetReceiveTimeout(int ms);
    // Sends the pieces but the first skip bytes of the first.
    bool SendRest(const struct iovec* pieces, int count, size_t skip, int timeoutMs);
    bool WaitFor(short events, Clock::time_point deadline);

    int fd_ = -1;
    BYTE* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t begin_ = 0;
    size_t end_ = 0;
    size_t current_ = 0;  // length of the fragment handed out
    size_t wanted_ = 64 * 1024;
    size_t fragment_ = 0;  // length of the fragment being read
    size_t prefix_ = 0;    // bytes of it handed out by ReadPduStart
    int restMs_ = 0;
    bool timed_ = false;
    Clock::time_point deadline_{};
    int receiveTimeoutMs_ = kWaitForever;  // as set on the socket
};
