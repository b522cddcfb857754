// The check value of a cached package (its MD5 in lower-case hex) and the trace file.
#pragma once

#include <string>

// 32 lower-case hex digits of the file's MD5; empty when any step fails.
std::string ComputeFileMd5(const std::wstring& path);

// The MD5 of the package when it can be taken, otherwise 32 '0' (the up-to-date text).
std::string ComputeCheckValue(const std::wstring& packagePath);

// Replaces the file's content with the value, one byte per character; reports nothing.
void WriteTraceFile(const std::wstring& value, const std::wstring& path);

// Lower-case hexadecimal form of a byte sequence.
std::string HexDigits(const unsigned char* bytes, size_t count);
