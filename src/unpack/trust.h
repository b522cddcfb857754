// What may run as administrator: Authenticode signatures by a fixed set of keys, and a pinned
// hash for the unzip tool. The checks take the lists as values; the exe passes its built-in ones.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TrustPolicy {
    std::vector<std::string> signers;  // hex SHA-256 of each allowed SubjectPublicKeyInfo
    std::string toolSha256;            // hex SHA-256 of the one allowed unzip tool; empty: none
};

// The build-time form "hex;hex;..." (or ',' between them) as lower-case hashes, blanks and empty
// entries dropped.
std::vector<std::string> ParseHashList(const std::string& text);

enum class TrustVerdict {
    NotChecked,     // nothing configured for this file: it runs as it always has
    TrustedSigner,  // intact signature whose signing key is in the list
    PinnedHash,     // the tool is byte for byte the pinned one
    BadSignature,   // WinVerifyTrust refused it: unsigned, altered, untrusted chain...
    ForeignSigner,  // an intact signature, by a key that is not in the list
    HashDiffers,
    Unreadable,
};

inline bool RunAllowed(TrustVerdict verdict)
{
    return verdict == TrustVerdict::NotChecked || verdict == TrustVerdict::TrustedSigner ||
           verdict == TrustVerdict::PinnedHash;
}

// Opens the file for reading with read sharing only, so that while the handle is held nobody can
// write, rename or delete it; INVALID_HANDLE_VALUE on failure.
HANDLE HoldFileForRun(const std::wstring& path);

// WinVerifyTrust's result (0 for an intact, trusted signature; TRUST_E_NOSIGNATURE, ...) and
// the hex SHA-256 of the signing certificate's SubjectPublicKeyInfo (empty unless intact).
struct SignatureCheck {
    LONG status = 0;
    std::string signerKey;
};
SignatureCheck CheckSignature(HANDLE file, const std::wstring& path);

// Hex SHA-256 of the whole file read through the handle from its start; empty on failure.
std::string FileSha256(HANDLE file);

// Setup.exe: checked against the signer list only.
TrustVerdict CheckInstallerTrust(HANDLE file, const std::wstring& path, const TrustPolicy& policy);
// unzip.exe: a listed signer or the pinned hash lets it run.
TrustVerdict CheckToolTrust(HANDLE file, const std::wstring& path, const TrustPolicy& policy);
