// The values fixed into this executable at build time (see build_values.cpp).
#pragma once

#include <string>

#include "unpack/trust.h"

// The download server base: http[s]://host[:port], no path, no trailing slash.
std::string ServerBase();

// Who may sign what the program runs, and the unzip tool's pinned hash; empty: no check.
TrustPolicy BuiltInTrust();
