// Pictures of an activity window.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"
#include "console/widgets/ActivityListModel.h"
#include "console/widgets/ServerActivityWnd.h"
#include "platform/pipe/NamedPipe.h"

#include <QElapsedTimer>

#include <string>

namespace {

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
    const std::string client = "6f1d2c3b-8a9e-4f70-b1c2-d3e4f5a6b7c8";
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
