#include "server/dispatch/WinFileImpl.h"

#include "server/host/ExceptionTranslator.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A log sink with a bug: its begin records read through a null pointer.
class FaultingLog : public ITQLog {
public:
    HRESULT LogMessage(const char*) override { return S_OK; }
    HRESULT ReportEvent(WORD, WORD, DWORD, WORD, const char**, DWORD, const void*) override { return S_OK; }
    TQ_FAULTS_ON_PURPOSE HRESULT LogCall(int kind, int, const char*, const char* message, HRESULT result, const char*, const char*,
                    int line) override
    {
        if (kind == 0 && faultOnBegin) {
            volatile const int* nowhere = nullptr;
            return *nowhere;
        }
        kinds.push_back(kind);
        messages.push_back(message);
        results.push_back(result);
        lines.push_back(line);
        return S_OK;
    }
    HRESULT LogInfo(const char*) override { return S_OK; }

    bool faultOnBegin = true;
    std::vector<int> kinds;
    std::vector<std::string> messages;
    std::vector<HRESULT> results;
    std::vector<int> lines;
};

} // namespace

TEST(WinFileFaults, FaultInsideACallEndsThatCallAndTheThreadServesOn)
{
    TQ_SKIP_TRANSLATED_FAULT();
    tqtest::TempFolder folder;
    FaultingLog log;
    CWinFileImpl files;
    files.SetFolder(&log, folder.Path().c_str());
    std::thread callThread([&] {
        InstallStructuredExceptionTranslator();
        for (int round = 0; round < 3; ++round) {
            CInvokeData r(1007);
            r.result = E_NOTIMPL;
            r.PushInString("x.txt");
            EXPECT_EQ(files.Dispatch(&r), E_UNEXPECTED);
        }
        log.faultOnBegin = false;
        CInvokeData ok(1007);
        ok.PushInString("x.txt");
        EXPECT_EQ(files.Dispatch(&ok), S_OK);
    });
    callThread.join();
    ASSERT_EQ(log.kinds.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(log.kinds[i], 2);
        EXPECT_EQ(log.messages[i], "GetFileSize");
        EXPECT_EQ(log.results[i], E_UNEXPECTED);
        EXPECT_EQ(log.lines[i], 632);
    }
    EXPECT_EQ(log.kinds[3], 0);
    EXPECT_EQ(log.kinds[4], 1);
}
