// Download.log: placeholder until the log lands; every call is a no-op.
#include "base/run_log.h"

void OpenRunLog(const std::wstring&) {}
void LogRunHeader(const std::wstring&, const std::wstring&) {}
void LogEvent(const std::wstring&) {}
void CloseRunLog() {}

std::wstring DecimalText(uint64_t value)
{
    wchar_t digits[24];
    wchar_t* start = digits + 24;
    do {
        *--start = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::wstring(start, digits + 24);
}

std::wstring HexText(uint32_t value)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

std::wstring ErrorText(DWORD code)
{
    return DecimalText(code);
}
