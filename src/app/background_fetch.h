// A fetch that runs on a worker thread while the window's thread keeps dispatching messages, so
// the progress window stays alive through slow or stalled servers and Cancel can abort it.
#pragma once

#include <string>

#include "net/fetch.h"

// Shows the searching text, fetches (see FetchUrl) and logs the request. Cancelled when the user
// confirmed Cancel meanwhile: the transfer is abandoned and nothing of it is left on disk.
FetchResult FetchInBackground(const std::string& url, const std::wstring& target, FetchedBody& body);

enum class UnzipToolFetch { NotFetched, NotSaved, Saved, Cancelled };

// Downloads the unzip tool and puts it at toolPath (replacing only with a complete download).
UnzipToolFetch FetchUnzipTool(const std::string& toolUrl, const std::wstring& toolPath);
