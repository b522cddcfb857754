// The download server's protocol: query and tool URLs, and the classes of a reply body.
#pragma once

#include <string>

#include "base/byte_buffer.h"

// The two 32-byte status texts. The up-to-date text doubles as the "no fingerprint" check value.
inline constexpr char UpToDateReply[] = "00000000000000000000000000000000";
inline constexpr char NotFoundReply[] = "000000000000000000000000000000FF";

enum class ReplyClass { NotFound, UpToDate, Package };

// <base>/vazid.php?proid=<code>&check=   (the caller appends the check value)
std::string BuildQueryBase(const std::string& serverBase, const std::string& productCode);

// <base>/vazid/unzip.exe
std::string BuildUnzipToolUrl(const std::string& serverBase);

// Exactly one of the two status texts, byte for byte; every other body is a package.
ReplyClass ClassifyReply(const ByteBuffer& body);
bool IsStatusReply(const ByteBuffer& body);
