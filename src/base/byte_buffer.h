// The growable byte array that receives a fetched body.
#pragma once

#include <vector>

using ByteBuffer = std::vector<char>;
