// URL composition and reply classification for the download server.
#include "net/protocol.h"

#include <cstring>

namespace {

bool BodyEquals(const ByteBuffer& body, const char (&reply)[33])
{
    return body.size() == 32 && std::memcmp(body.data(), reply, 32) == 0;
}

}  // namespace

std::string BuildQueryBase(const std::string& serverBase, const std::string& productCode)
{
    return serverBase + "/vazid.php?proid=" + productCode + "&check=";
}

std::string BuildUnzipToolUrl(const std::string& serverBase)
{
    return serverBase + "/vazid/unzip.exe";
}

ReplyClass ClassifyReply(const ByteBuffer& body)
{
    if (BodyEquals(body, NotFoundReply))
        return ReplyClass::NotFound;
    if (BodyEquals(body, UpToDateReply))
        return ReplyClass::UpToDate;
    return ReplyClass::Package;
}

bool IsStatusReply(const ByteBuffer& body)
{
    return ClassifyReply(body) != ReplyClass::Package;
}
