// WinINet, loaded from System32 at first use instead of imported: it is not a known DLL, so a
// static import would take a wininet.dll planted beside the elevated exe.
#pragma once

#include <windows.h>
#include <wininet.h>

struct WinInetApi {
    HMODULE module;
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetOpenUrlA) InternetOpenUrlA;
    decltype(&::InternetSetOptionW) InternetSetOptionW;
    decltype(&::InternetQueryOptionA) InternetQueryOptionA;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
};

// The loaded entry points, or null when WinINet cannot be loaded from System32.
const WinInetApi* WinInet();
