// The values fixed into an executable at build time: server base and trust lists. Compiled once
// per executable, so test builds with other values share every other object.
#include "app/build_values.h"

#if !defined(DOWNLOAD_SERVER_BASE) || !defined(DOWNLOAD_TRUSTED_SIGNERS) || !defined(DOWNLOAD_UNZIP_SHA256)
#error "DOWNLOAD_SERVER_BASE, DOWNLOAD_TRUSTED_SIGNERS and DOWNLOAD_UNZIP_SHA256 come from the build"
#endif

std::string ServerBase()
{
    return DOWNLOAD_SERVER_BASE;
}

TrustPolicy BuiltInTrust()
{
    TrustPolicy policy;
    policy.signers = ParseHashList(DOWNLOAD_TRUSTED_SIGNERS);
    const std::vector<std::string> pinned = ParseHashList(DOWNLOAD_UNZIP_SHA256);
    if (!pinned.empty())
        policy.toolSha256 = pinned.front();
    return policy;
}
