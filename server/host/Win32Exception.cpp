#include "server/host/Win32Exception.h"

#include <cstring>

namespace TQC {

win32_exception::win32_exception(const char* message, DWORD code, const EXCEPTION_POINTERS* pointers)
    : record_{}, context_{}
{
    std::memset(message_, 0, sizeof message_);
    if (message != nullptr)
        std::strncpy(message_, message, sizeof message_ - 1);
    code_ = code;
    if (pointers == nullptr)
        return;
    if (pointers->ExceptionRecord != nullptr) {
        record_ = *pointers->ExceptionRecord;
        // The nested record belongs to the faulting frame, which unwinding frees.
        record_.ExceptionRecord = nullptr;
    }
    if (pointers->ContextRecord != nullptr)
        context_ = *pointers->ContextRecord;
    captured_ = 1;
}

const char* win32_exception::what() const noexcept
{
    return message_;
}

} // namespace TQC
