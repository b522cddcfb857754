// Keeps DLLs planted beside the exe (often a Downloads folder) out of this elevated process.
#pragma once

#include <windows.h>

// Restricts later DLL searches of the process to System32 and drops the current directory.
void RestrictDllSearchToSystem32();

// Loads a DLL from System32 only, never from the program's folder; null when it fails.
HMODULE LoadSystemLibrary(const wchar_t* name);
