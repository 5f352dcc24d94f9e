// Reads arbitrary text as a date; a date that reads must write in the fixed
// form and read back to the same second.
#include "platform/oledate/OleDate.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    DATE date = 0;
    if (FAILED(VarDateFromStr(text.c_str(), LOCALE_USER_DEFAULT, 0, &date)))
        return 0;
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(date, &st))
        std::abort();
    std::string written;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &written)))
        std::abort();
    DATE again = 0;
    SYSTEMTIME back{};
    if (FAILED(VarDateFromStr(written.c_str(), LOCALE_USER_DEFAULT, 0, &again)) || !VariantTimeToSystemTime(again, &back))
        std::abort();
    if (st.wYear != back.wYear || st.wMonth != back.wMonth || st.wDay != back.wDay || st.wHour != back.wHour ||
        st.wMinute != back.wMinute || st.wSecond != back.wSecond)
        std::abort();
    return 0;
}
