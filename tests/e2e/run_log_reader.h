// Reads the program's Download.log back: one entry per line, its timestamp apart from its text.
#pragma once

#include <cwchar>
#include <map>
#include <regex>
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

// A pattern for one whole log line, written as the line itself: {ms} stands for a duration,
// {n} for a count, {why} for the system's text of an error code (" (...)"), and any other
// {name} for the literal value given for it.
inline std::wregex RunLogPattern(const std::wstring& line, const std::map<std::wstring, std::wstring>& values = {})
{
    const auto literal = [](const std::wstring& text) {
        std::wstring escaped;
        for (const wchar_t c : text) {
            if (std::wcschr(L"\\^$.|?*+()[]{}", c))
                escaped += L'\\';
            escaped += c;
        }
        return escaped;
    };
    std::wstring pattern;
    size_t i = 0;
    while (i < line.size()) {
        const size_t open = line.find(L'{', i);
        const size_t close = open == std::wstring::npos ? open : line.find(L'}', open);
        pattern += literal(line.substr(i, close == std::wstring::npos ? std::wstring::npos : open - i));
        if (close == std::wstring::npos)
            break;
        const std::wstring name = line.substr(open + 1, close - open - 1);
        if (name == L"ms")
            pattern += L"\\d+ ms";
        else if (name == L"n")
            pattern += L"\\d+";
        else if (name == L"why")
            pattern += L" \\(.+\\)";
        else
            pattern += literal(values.count(name) ? values.at(name) : L"{" + name + L"}");
        i = close + 1;
    }
    return std::wregex(pattern);
}
