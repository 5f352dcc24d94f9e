#pragma once
// The server program as the tests start it: its own process with a state
// root of the test's, its output in a file.

#include "common/callrecord/InvokeData.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace tqtest {

class TqwlProcess {
public:
    // stateRoot: the test's; the program runs with it as current folder.
    explicit TqwlProcess(std::string stateRoot);
    ~TqwlProcess();

    void Start(const std::vector<std::string>& args = {});
    // Waits until the program accepts connections on the port.
    bool WaitForPort(int port, int timeoutMs = 10000) const;
    void Signal(int signal) const;
    // The exit code, or -1 when the program is still running after timeoutMs
    // (it is killed then) or ended by a signal.
    int Wait(int timeoutMs = 10000);
    std::string Output() const;
    pid_t Pid() const { return pid_; }

private:
    std::string stateRoot_;
    pid_t pid_ = -1;
};

// Runs a program to its end; its exit code (-1 for a signal), output in *output.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr, int timeoutMs = 120000);

// RemoteInvoke over our RPC client: the procedure's value, the reply decoded
// into reply (its blob's size in *replySize; -1 for a null pointer).
// Failures of the call itself give the RPC status as a negative number below -1.
long InvokeOverRpc(int port, CInvokeData& request, CInvokeData& reply, long* replySize = nullptr,
                   const char* interfaceUuid = "A9934395-CC29-4CBA-9104-F01FC6BA6AA0");
// The same with an arbitrary request blob.
long InvokeBlobOverRpc(int port, const std::vector<BYTE>& blob, std::vector<BYTE>* reply, bool* nullReply);

} // namespace tqtest
