#pragma once
// The content of a whole-file read, taken from the open file as the reply
// goes out rather than read into a buffer of the file's size first. The
// size is the one the call found; a file that became shorter since fails
// the read instead of giving other bytes. The file stays under its handle
// until the source is let go, which closes it and frees the handle.

#include "common/callrecord/InvokeItemSource.h"
#include "server/dispatch/FileHandleTable.h"

#include <memory>

class CWholeFileSource : public IInvokeItemSource {
public:
    // A handle of the process's table, open for reading.
    CWholeFileSource(LONG handle, size_t size);
    ~CWholeFileSource() override;
    CWholeFileSource(const CWholeFileSource&) = delete;
    CWholeFileSource& operator=(const CWholeFileSource&) = delete;

    bool Read(size_t offset, BYTE* to, size_t length) override;

private:
    LONG handle_;
    size_t size_;
    std::shared_ptr<CFileHandleTable::File> file_;
};
