// The program's version, written once; the version block and the code both read it.
#pragma once

#define DOWNLOAD_VERSION_NUMBERS 12,0,0,0
#define DOWNLOAD_VERSION_TEXT "12.0.0.0"
