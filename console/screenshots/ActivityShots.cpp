// Pictures of an activity window.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"
#include "console/widgets/ActivityListModel.h"
#include "console/widgets/ServerActivityWnd.h"
#include "common/callrecord/InvokeData.h"
#include "console/core/TransportComputerList.h"
#include "platform/pipe/NamedPipe.h"
#include "platform/transport/ClientTransport.h"

#include <QElapsedTimer>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr const char* kClientId = "6f1d2c3b-8a9e-4f70-b1c2-d3e4f5a6b7c8";
constexpr const char* kClientName = "WS-ALPHA";

// The computer list of a server that knows one client computer, so that the
// picture shows a computer's name without a running server.
class OneComputerTransport : public ClientTransport {
public:
    HRESULT Connect(const char*, DWORD) override { return S_OK; }
    HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) override
    {
        CInvokeData in;
        if (!in.Decode(request, size))
            return E_INVALIDARG;
        CInvokeData out(in.functionCode);
        out.result = S_OK;
        if (in.functionCode == CTransportComputerList::kGetCompleteComputerList)
            out.PushOutBytes((std::string(kClientName) + '\0' + '\0').data(),
                             static_cast<DWORD>(std::strlen(kClientName) + 2));
        else
            out.PushOutBytes(kClientId, static_cast<DWORD>(std::strlen(kClientId) + 1));
        const DWORD n = out.GetEncodedSize(InvokeModeReply);
        *reply = new BYTE[n];
        *replyLength = n;
        out.Encode(*reply, static_cast<LONG>(n), InvokeModeReply);
        return S_OK;
    }
    HRESULT FreeReply(BYTE* reply) override
    {
        delete[] reply;
        return S_OK;
    }
};

// One record on the window's pipe, as the server's log writes it.
void WriteRecord(DWORD port, const std::string& record)
{
    const std::string name = COverlappedPipeServer::PipeName(port);
    PipeHandle h = INVALID_PIPE_HANDLE;
    for (int attempt = 0; attempt < 50 && PipeOpen(name, &h) != ERROR_SUCCESS; ++attempt)
        CScreenshotStage::Settle(20);
    if (h == INVALID_PIPE_HANDLE)
        return;
    PipeWrite(h, record.c_str(), static_cast<DWORD>(record.size() + 1), nullptr);
    PipeClose(h);
}

} // namespace

TQ_SCREENSHOT(ActivityWindowWithRows, "activity.png")
{
    SetClientTransportFactory([](std::unique_ptr<ClientTransport>* out) {
        *out = std::make_unique<OneComputerTransport>();
        return S_OK;
    });
    CMainFrame& frame = stage.Frame();
    frame.SelectServerItem(0);
    if (frame.SelectedServer() == nullptr || !frame.Trigger(cmd::kViewServerActivity))
        return nullptr;
    const DWORD port = frame.SelectedServer()->Port();
    auto* wnd = dynamic_cast<CServerActivityWnd*>(frame.ActivityWindows().FindOpen(port));
    if (wnd == nullptr)
        return nullptr;
    wnd->resize(1180, 300);
    const std::string nil = "00000000-0000-0000-0000-000000000000";
    const std::string client = kClientId;
    const char* records[] = {
        "1|4010|0|%c|SetComputerInformation(WS-ALPHA,11,2)|CLInvokeImpl|CCLInvokeImpl::OnSetComputerInformation|408|5121",
        "1|1001|0|%c|OpenFile(report.dat,READ) = 3|WinFileImpl|CWinFileImpl::OnOpenFile|456|5121",
        "1|1004|-2147467259|%c|CloseFile(17)|WinFileImpl|CWinFileImpl::OnCloseFile|547|5122",
        "1|2005|0|%n|CreateUser(jsmith)|ULInvokeImpl|CULInvokeImpl::OnCreateUser|310|5130",
        "0|2006|-2147024891|%n|DeleteUser(admin)|ULInvokeImpl|CULInvokeImpl::OnDeleteUser|320|5130",
        "1|1007|0|%c|GetFileSize(setup.exe) = 1048576|WinFileImpl|CWinFileImpl::OnGetFileSize|627|5121",
        "2|4011|-2147418113|%c|GetComputerInformation|CLInvokeImpl|CCLInvokeImpl::OnGetComputerInformation|450|5122",
    };
    for (std::string record : records) {
        const size_t at = record.find('%');
        record.replace(at, 2, record[at + 1] == 'n' ? nil : client);
        WriteRecord(port, record);
    }
    QElapsedTimer waited;
    waited.start();
    while (wnd->Model()->rowCount() < 6 && waited.elapsed() < 5000)
        CScreenshotStage::Settle(50);
    CScreenshotStage::Settle();
    return wnd;
}
