// Download.log in the program folder: one line per event of a run, for support. Never harms the
// run: a log that cannot be opened or written is skipped in silence.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Opens (appends to) Download.log in the folder; past 1 MiB the old log becomes Download.old.log.
void OpenRunLog(const std::wstring& folder);

// The run's first line: program version, Windows version, elevation, program folder, working
// folder and server base.
void LogRunHeader(const std::wstring& version, const std::wstring& serverBase);

// One line, "<local time to the millisecond> <text>", UTF-8, flushed at once. Safe from any thread.
void LogEvent(const std::wstring& text);

void CloseRunLog();

// Small formatting helpers for log lines (no printf engine in the exe).
std::wstring DecimalText(uint64_t value);
std::wstring HexText(uint32_t value);  // "0x80004005"
// "<code> (<system text>)"; the text from WinINet's table for its own codes (12001-12199).
std::wstring ErrorText(DWORD code);
// "0x80004005 (<system text>)" for an HRESULT.
std::wstring HresultText(HRESULT hr);
