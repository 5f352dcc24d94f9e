#pragma once
// The list handlers a dispatch fuzz target feeds: made once per process over
// a real database in a fresh folder of the working directory, which goes
// at exit. Whatever a client sends, the handlers must answer without
// touching memory they do not own.

#include "common/callrecord/InvokeData.h"
#include "tests/server/storage/lists/ListsTestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

template <class Handlers>
class ListDispatchFuzzTarget {
public:
    // setUp(handlers, files) sets the handlers up; then the list is loaded
    // with loadCode and listFile, as the server loads it.
    template <class SetUp>
    ListDispatchFuzzTarget(const char* folderTemplate, SetUp setUp, DWORD loadCode, const char* listFile)
        : files_(FreshFolder(folderTemplate))
    {
        setUp(handlers_, &files_);
        CInvokeData load(loadCode);
        load.PushInString(listFile);
        handlers_.Dispatch(&load);
    }

    // Decodes a call record from the input and hands its caller and in-items
    // to the handlers under code(decoded code). push(record, code, index,
    // item) pushes each in-item.
    template <class Code, class Push>
    void Call(const std::uint8_t* data, std::size_t size, Code code, Push push)
    {
        CInvokeData decoded;
        if (!decoded.Decode(data, size))
            return;
        const DWORD routed = code(decoded.functionCode);
        CInvokeData record(routed);
        record.callerGuid = decoded.callerGuid;
        std::size_t index = 0;
        for (const InvokeItem& item : decoded.InItems())
            push(record, routed, index++, item);
        handlers_.Dispatch(&record);
    }

    static void PushAsItCame(CInvokeData& record, DWORD, std::size_t, const InvokeItem& item)
    {
        record.PushInBytes(item.data, item.length);
    }

private:
    // One folder per process: the target is made once.
    static std::string FreshFolder(const char* folderTemplate)
    {
        static std::string folder;
        std::string name = folderTemplate;
        folder = std::filesystem::absolute(::mkdtemp(name.data())).string();
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return folder;
    }

    liststest::FakeFiles files_;
    Handlers handlers_;
};
