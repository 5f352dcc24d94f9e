#pragma once
// A computer-list store whose deliveries a test can hold back and run
// itself, and reads of an operation's row.

#include "tests/server/storage/lists/StoreTestFixture.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace liststest {

// The remarks a failed attempt writes.
inline std::string RetryRemark(HRESULT hr, int left)
{
    char text[100];
    std::snprintf(text, sizeof text, "Immediate execution failed (0x%.8X), %d retries left", static_cast<unsigned>(hr),
                  left);
    return text;
}

inline std::string WaitingRemark(HRESULT hr)
{
    char text[100];
    std::snprintf(text, sizeof text, "Immediate execution failed (0x%.8X), waiting for update interval",
                  static_cast<unsigned>(hr));
    return text;
}

class DeliveryTestBase : public StoreTest {
protected:
    // Work items are held back and run by the test itself, one at a time.
    void CaptureWorkItems()
    {
        store->Delivery().SetQueueFunction([this](LPTHREAD_START_ROUTINE f, void* context, ULONG flags) {
            EXPECT_EQ(flags, WT_EXECUTELONGFUNCTION);
            captured.emplace_back(f, context);
            return TRUE;
        });
    }
    bool RunOneCaptured()
    {
        if (captured.empty())
            return false;
        auto [f, context] = captured.front();
        captured.erase(captured.begin());
        f(context);
        return true;
    }
    void RunCaptured()
    {
        while (RunOneCaptured()) {
        }
    }

    struct OpState {
        DWORD status;
        HRESULT result;
        std::string remarks;
    };
    OpState State(LONG opId)
    {
        PendingOpRecord* op = nullptr;
        EXPECT_EQ(store->GetPendingOp("", static_cast<DWORD>(opId), &op), S_OK);
        OpState s{op->status, op->result, op->remarks ? op->remarks : ""};
        store->FreePendingOp(op);
        return s;
    }
    bool EventuallyRemarks(LONG opId, const std::string& expected,
                           std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (Remarks(opId) != expected) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::vector<std::pair<LPTHREAD_START_ROUTINE, void*>> captured;
};

} // namespace liststest
