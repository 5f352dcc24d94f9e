#pragma once
// Helpers for tests of the user-list handlers: handlers over a real folder
// with a capturing log, and the reader of their flat name lists.

#include "server/dispatch/ULInvokeImpl.h"
#include "server/dispatch/WinFileImpl.h"
#include "server/shared/UserList.h"
#include "tests/server/dispatch/HandlerTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dispatchtest {

// The entries of a flat name list as "tag:name:second"; checks that every
// size is consistent with the bytes.
inline std::vector<std::string> FlatEntries(const std::vector<BYTE>& flat)
{
    std::vector<std::string> out;
    auto u32 = [&](size_t at) {
        DWORD v = 0;
        std::memcpy(&v, flat.data() + at, 4);
        return v;
    };
    if (flat.size() < 4) {
        ADD_FAILURE() << "flat list of " << flat.size() << " bytes";
        return out;
    }
    const DWORD count = u32(0);
    size_t at = 4;
    for (DWORD i = 0; i < count; ++i) {
        std::string entry;
        if (at + 8 > flat.size()) {
            ADD_FAILURE() << "entry " << i << " runs past the end";
            return out;
        }
        entry = std::to_string(u32(at));
        at += 4;
        for (int text = 0; text < 2; ++text) {
            const DWORD size = u32(at);
            at += 4;
            if (size == 0 || at + size > flat.size() || flat[at + size - 1] != 0) {
                ADD_FAILURE() << "bad text size " << size << " in entry " << i;
                return out;
            }
            entry += ":" + std::string(reinterpret_cast<const char*>(flat.data() + at), size - 1);
            at += size;
            if (text == 0 && at + 4 > flat.size()) {
                ADD_FAILURE() << "entry " << i << " runs past the end";
                return out;
            }
        }
        out.push_back(entry);
    }
    EXPECT_EQ(at, flat.size());
    return out;
}

// User-list handlers over a fresh folder, with the list loaded as the server
// loads it and the log of the load cleared. Base is the fixture to build on;
// a test it skips is not set up.
template <class Base>
class ULHandlersTestOn : public Base {
protected:
    void SetUp() override
    {
        Base::SetUp();
        if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure())
            return;
        files.SetFolder(nullptr, folder.Path().c_str());
        handlers.SetUp(&log, &files, kUserListKeepOpen);
        CInvokeData load(2001);
        load.PushInString("userlist.fdb");
        ASSERT_EQ(handlers.Dispatch(&load), S_OK);
        ASSERT_EQ(load.result, S_OK);
        log.Clear();
    }

    // One call; the handler's returned code must be S_OK.
    std::unique_ptr<CInvokeData> Call(DWORD code, const std::vector<std::string>& names = {},
                                      const std::function<void(CInvokeData&)>& more = nullptr)
    {
        auto r = std::make_unique<CInvokeData>(code);
        for (const std::string& name : names)
            r->PushInString(name.c_str());
        if (more)
            more(*r);
        EXPECT_EQ(handlers.Dispatch(r.get()), S_OK) << "code " << code;
        return r;
    }

    // The flat list a call sends, with its result checked.
    std::vector<std::string> Listed(DWORD code, const std::vector<std::string>& names = {}, HRESULT result = S_OK)
    {
        auto r = Call(code, names);
        EXPECT_EQ(r->result, result);
        EXPECT_EQ(r->OutCount(), 1u);
        auto entries = FlatEntries(OutBytes(*r));
        log.Clear();
        return entries;
    }

    // Checks that the call wrote exactly a begin and an end record.
    void ExpectBeginEnd(DWORD code, const std::string& function, const std::string& begin, int beginLine,
                        const std::string& end, HRESULT result, int endLine, const std::string& caller = kNilCaller)
    {
        dispatchtest::ExpectBeginEnd(log, {"ULInvokeImpl", "CULInvokeImpl::" + function, code, begin, beginLine, end,
                                           result, endLine, caller.c_str()});
    }

    tqtest::TempFolder folder;
    CWinFileImpl files;
    FakeLog log;
    CULInvokeImpl handlers;
};

using ULHandlersTest = ULHandlersTestOn<::testing::Test>;

} // namespace dispatchtest
