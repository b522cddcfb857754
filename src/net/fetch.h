// Fetching one URL into memory while the progress window counts up, and saving a buffer.
#pragma once

#include <windows.h>
#include <wininet.h>
#include <string>

#include "base/byte_buffer.h"
#include "base/files.h"

// A fresh WinINet session ("SetupApp", direct, synchronous) for exactly one fetch; null on failure.
HINTERNET OpenInternetSession();

// GETs the URL into the buffer; the session is closed on every path. True only for a complete
// body: the whole announced length read, and a 2xx status (any status for a body that is one
// of the two server status texts). The buffer is untouched when the URL cannot be opened and
// emptied on every other failure.
bool DownloadToBuffer(const std::string& url, ByteBuffer& buffer, HINTERNET session);
