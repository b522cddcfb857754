// Reads the program's Download.log back: one entry per line, its timestamp apart from its text.
#pragma once

#include <string>
#include <vector>

#include "support/win_helpers.h"

struct RunLogLine {
    std::wstring stamp;  // "2024-05-01 14:03:07.123"
    std::wstring text;
};

inline std::vector<RunLogLine> ReadRunLog(const std::wstring& path)
{
    std::vector<RunLogLine> lines;
    const std::wstring content = WideUtf8(ReadFileOrEmpty(path));
    const size_t stampLength = 23;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = content.size();
        const std::wstring line = content.substr(start, end - start);
        RunLogLine entry;
        entry.stamp = line.substr(0, stampLength);
        entry.text = line.size() > stampLength ? line.substr(stampLength + 1) : std::wstring();
        lines.push_back(entry);
        start = end + 2;
    }
    return lines;
}

// The texts of the lines that start with the prefix, in order.
inline std::vector<std::wstring> RunLogTexts(const std::vector<RunLogLine>& lines, const std::wstring& prefix)
{
    std::vector<std::wstring> found;
    for (const RunLogLine& line : lines)
        if (line.text.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line.text);
    return found;
}

// The message boxes a run showed, as its log has them.
inline std::vector<std::wstring> RunLogMessages(const std::vector<RunLogLine>& lines)
{
    std::vector<std::wstring> messages;
    for (const std::wstring& text : RunLogTexts(lines, L"message \""))
        messages.push_back(text.substr(9, text.size() - 10));
    return messages;
}
