// Start-up state of the process and the fixed names, paths and command line it works with.
// Every file the program writes, reads or runs lives in the program directory.
#pragma once

#include <string>

#include "base/files.h"
#include "base/program.h"

inline constexpr char PackageName[] = "brellocantix_hwn.zip";
inline constexpr char UnzipToolName[] = "unzip.exe";
inline constexpr wchar_t InstallFolderName[] = L"Setup BRELLOCANTIX";
inline constexpr wchar_t InstallerName[] = L"Setup.exe";
inline constexpr wchar_t TraceFileName[] = L"trace.txt";

// Full paths and the unzip command line, composed once from the program directory.
struct InstallPaths {
    std::wstring package;        // <dir>\brellocantix_hwn.zip
    std::wstring tool;           // <dir>\unzip.exe
    std::wstring installFolder;  // <dir>\Setup BRELLOCANTIX
    std::wstring installer;      // <dir>\Setup BRELLOCANTIX\Setup.exe
    std::wstring trace;          // <dir>\trace.txt
    std::wstring unzipCommandLine;  // "<dir>\unzip.exe" brellocantix_hwn.zip -d "Setup BRELLOCANTIX"
};

InstallPaths ComposeInstallPaths(const std::wstring& programDir);
