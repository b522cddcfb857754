// Work that runs on a worker thread (a fetch, a fingerprint) while the window's thread keeps dispatching messages, so
// the progress window stays alive through slow or stalled servers and Cancel can abort it.
#pragma once

#include <string>

#include "net/fetch.h"

// Shows the searching text, fetches (see FetchUrl) and logs the request. Cancelled when the user
// confirmed Cancel meanwhile: the transfer is abandoned and nothing of it is left on disk.
// A status text that comes with an error status counts as an answer only for the server's
// query (statusTextOnError), never for a file such as the unzip tool.
FetchResult FetchInBackground(const std::string& url, const std::wstring& target, FetchedBody& body,
                              bool statusTextOnError = true);

// The check value of the cached package (see ComputeCheckValue), hashed on a worker thread: a
// package of a gigabyte takes seconds. False when the user cancelled meanwhile.
bool ComputeCheckValueInBackground(const std::wstring& packagePath, std::string& checkValue);

enum class UnzipToolFetch { NotFetched, NotSaved, Saved, Cancelled };

// Downloads the unzip tool and puts it at toolPath (replacing only with a complete download).
UnzipToolFetch FetchUnzipTool(const std::string& toolUrl, const std::wstring& toolPath);
