#pragma once
// Where the bytes of an out-item come from when they are made only as the
// reply is encoded or sent: a file of tens of megabytes is read as it goes
// out, not into a buffer of its whole size first.

#include "platform/win/WinTypes.h"

#include <cstddef>

class IInvokeItemSource {
public:
    virtual ~IInvokeItemSource() = default;
    // Fills [to, to + length) with the item's bytes from offset on, however
    // often it is asked; false when they cannot all be had (the file became
    // shorter since the item was made), and what was written to `to` then
    // must not be used.
    virtual bool Read(size_t offset, BYTE* to, size_t length) = 0;
};
