// File helpers every layer uses: text widening, existence, and replacing a file only with a
// complete new one (written beside it first).
#pragma once

#include <string>

#include "base/byte_buffer.h"

// Narrow (ANSI code page) to wide; empty when the conversion fails.
std::wstring Widen(const std::string& text);

// True when a file or folder exists at the path.
bool FileExists(const std::wstring& path);

// <folder>\<name>
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// Where a new version of the file is written before it replaces the file: "<path>.part".
std::wstring TemporaryPathFor(const std::wstring& path);

// Puts the finished temporary file in the target's place (replacing it); the temporary file is
// removed when that fails, and the target then stays as it was.
bool ReplaceWithTemporary(const std::wstring& temporary, const std::wstring& path);

// Writes the bytes to the temporary file beside the target, then puts it in the target's place.
// False when anything fails; the previous target then stays as it was.
bool SaveBuffer(const ByteBuffer& buffer, const std::wstring& path);
