#pragma once
// A processor fault or system exception raised as a language exception, with
// the copies of its record and context when the fault supplied them.

#include "platform/seh/StructuredException.h"

#include <exception>

namespace TQC {

class win32_exception : public std::exception {
public:
    // pointers may be null; either of its members may be null.
    win32_exception(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers);
    win32_exception(const win32_exception& other) = default;
    win32_exception& operator=(const win32_exception& other) = default;
    ~win32_exception() override = default;

    const char* what() const noexcept override;

    DWORD code() const { return code_; }
    // 1 when the record and context were copied from the fault, else 0.
    int captured() const { return captured_; }
    const EXCEPTION_RECORD& record() const { return record_; }
    const CONTEXT& context() const { return context_; }

protected:
    void SetCode(DWORD code) { code_ = code; }

private:
    // Kept inside the object: the exception is made in a signal handler,
    // where nothing more should be allocated than the exception itself.
    char message_[96];
    int captured_ = 0;
    DWORD code_ = 0;
    EXCEPTION_RECORD record_;
    CONTEXT context_;
};

} // namespace TQC
