#include "bench/FileBench.h"

#include "bench/LatencyStats.h"
#include "bench/PlainClient.h"
#include "bench/RpcSession.h"
#include "bench/Table.h"
#include "platform/rpc/RpcProtocol.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace tqbench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kWriteWholeFile = 1011;
constexpr DWORD kReadWholeFile = 1012;
constexpr const char* kFileName = "bench64.bin";

double Seconds(const std::function<bool()>& work, bool* ok)
{
    const auto before = Clock::now();
    *ok = work();
    return std::chrono::duration<double>(Clock::now() - before).count();
}

// What the file system alone takes for one whole write (created, written,
// flushed, closed, as the server's file calls do) and one whole read.
bool WriteFileAlone(const std::string& path, const std::vector<BYTE>& data)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    bool ok = done == data.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

bool ReadFileAlone(const std::string& path, std::vector<BYTE>* data)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < data->size()) {
        ssize_t n = ::read(fd, data->data() + done, data->size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == data->size();
}

} // namespace

void FileBench::Run()
{
    const int runs = context_.options.quick ? 2 : std::max(3, context_.options.repeat);
    std::vector<BYTE> data(kFileSize);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>((i * 2654435761u) >> 13);

    CInvokeData writeRequest(kWriteWholeFile), readRequest(kReadWholeFile);
    writeRequest.PushInString(kFileName);
    writeRequest.PushInBytes(data.data(), static_cast<DWORD>(data.size()));
    readRequest.PushInString(kFileName);
    CRpcBuffer writeStub, readStub;
    RpcSession::MarshalInvoke(writeRequest, writeStub);
    RpcSession::MarshalInvoke(readRequest, readStub);

    RpcSession session;
    PlainClient plain;
    if (session.Connect(context_.rpcPort) != RPC_S_OK || !plain.Connect(context_.plainPort)) {
        std::printf("  cannot connect for the file runs\n");
        context_.faults = true;
        return;
    }
    std::vector<double> rpcWrite, rpcRead, plainWrite, plainRead, fsWrite, fsRead;
    size_t writeReplyBytes = 0, readReplyBytes = 0;
    std::string failure;
    std::vector<BYTE> scratch(kFileSize);
    const std::string alonePath = context_.rpcFolder + "alone64.bin";
    for (int run = 0; run < runs && failure.empty(); ++run) {
        bool ok = false;
        rpcWrite.push_back(Seconds([&] { return session.Call(RpcSession::kRemoteInvoke, writeStub) == RPC_S_OK; }, &ok));
        LONG value = -1;
        CInvokeData reply;
        if (!ok || !session.ReadInvoke(&value, reply) || value != 0 || reply.result != S_OK) {
            failure = "WriteWholeFile of 64 MiB failed";
            break;
        }
        writeReplyBytes = rpc::kResponseHeaderSize + session.Reply().Size();

        rpcRead.push_back(Seconds([&] { return session.Call(RpcSession::kRemoteInvoke, readStub) == RPC_S_OK; }, &ok));
        CInvokeData content;
        const InvokeItem* item = nullptr;
        if (!ok || !session.ReadInvoke(&value, content) || value != 0 || content.result != S_OK ||
            content.OutItems().empty() || (item = &content.OutItems().front())->length != data.size() ||
            std::memcmp(item->data, data.data(), data.size()) != 0) {
            failure = "ReadWholeFile did not give back the 64 MiB written";
            break;
        }
        readReplyBytes = rpc::kResponseHeaderSize + session.Reply().Size();

        const size_t writeBytes = rpc::kRequestHeaderSize + writeStub.Size();
        const size_t readBytes = rpc::kRequestHeaderSize + readStub.Size();
        plainWrite.push_back(Seconds([&] { return plain.Call(writeBytes, writeReplyBytes); }, &ok));
        if (ok)
            plainRead.push_back(Seconds([&] { return plain.Call(readBytes, readReplyBytes); }, &ok));
        if (!ok) {
            failure = "the plain server failed a 64 MiB message";
            break;
        }
        fsWrite.push_back(Seconds([&] { return WriteFileAlone(alonePath, data); }, &ok));
        if (ok)
            fsRead.push_back(Seconds([&] { return ReadFileAlone(alonePath, &scratch); }, &ok));
        if (!ok) {
            failure = "the file system alone failed on " + alonePath;
            break;
        }
    }
    ::unlink(alonePath.c_str());
    if (!failure.empty()) {
        std::printf("  %s\n\n", failure.c_str());
        context_.faults = true;
        return;
    }

    const double bytes = static_cast<double>(kFileSize);
    std::printf("Bulk files: one 64 MiB file, %d run(s) each, median; MB/s of file content (10^6 bytes).\n"
                "Plain: the plain server moving messages of the same sizes. File system: the same write\n"
                "(create, write, fsync, close) and read done directly in the storage folder; plain + fs:\n"
                "both in turn, the least any server that keeps the file on disk can take.\n",
                runs);
    // The server must both move the bytes and have the file system take or
    // give them: the two baselines one after the other bound what it can do.
    Table table({"operation", "RPC", "time", "plain", "time", "ratio", "file system", "time", "plain + fs",
                 "ratio"});
    auto row = [&](const char* name, const std::vector<double>& rpc, const std::vector<double>& base,
                   const std::vector<double>& fs, double goal) {
        const double r = MedianOf(rpc), b = MedianOf(base), f = MedianOf(fs);
        const double ratio = r > 0 ? b / r : 0;
        table.AddRow({name, FormatMegabytes(bytes / r), FormatDuration(r * 1e9), FormatMegabytes(bytes / b),
                      FormatDuration(b * 1e9), FormatRatio(ratio), FormatMegabytes(bytes / f),
                      FormatDuration(f * 1e9), FormatMegabytes(bytes / (b + f)), FormatRatio((b + f) / r)});
        context_.goals.AtLeast(std::string(name) + " of 64 MiB, RPC MB/s / plain + fs", (b + f) / r, goal);
    };
    row("WriteWholeFile (1011)", rpcWrite, plainWrite, fsWrite, 0.9);
    row("ReadWholeFile (1012)", rpcRead, plainRead, fsRead, 0.8);
    std::printf("%s\n", table.Render().c_str());
}

} // namespace tqbench
