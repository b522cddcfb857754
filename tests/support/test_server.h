// A scripted HTTP/1.1 server on loopback for the tests: each path answers from its own queue
// of replies (the last one repeats) and every request is recorded.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Reply {
    enum class Length { Exact, None, Chunked, Longer };

    int status = 200;
    std::string body;
    Length length = Length::Exact;
    size_t extraAnnounced = 0;  // Longer: Content-Length is body + this
    bool reset = false;         // end the connection with a reset instead of a clean close
    DWORD pauseMidBodyMs = 0;   // pause after half of the body (ends early if the client leaves)
    DWORD stallBeforeHeadersMs = 0;  // accept, then send nothing for this long
    std::string extraHeaders{};  // more header lines, each ending in \r\n (a Location, say)
    size_t pieces = 0;          // send the body in this many pieces...
    DWORD pieceDelayMs = 0;     // ...with this pause before each (a slow server)
};

struct Request {
    std::string method;
    std::string target;  // path and query
    std::string userAgent;
    std::string headers;  // raw header lines
    std::string absoluteTarget;  // the request line's target when it named a whole URL (a proxy's view)
    int64_t servedAt = 0;  // FILETIME ticks when the reply was fully sent
    bool completed = false;  // the whole reply was sent (false: the client left first)
};

class TestServer {
public:
    // Port 0 picks a free port.
    explicit TestServer(const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool Listening() const { return listener_ != INVALID_SOCKET; }
    uint16_t Port() const { return port_; }
    std::string BaseUrl() const;  // http://address[:port]

    void Route(const std::string& path, std::vector<Reply> replies);
    // Also answer requests for http://host/... as a proxy would (the path is routed as usual).
    void ActAsProxy() { proxy_ = true; }
    std::vector<Request> Requests();

private:
    void Serve();
    void Answer(SOCKET client);

    std::string address_;
    uint16_t port_ = 0;
    SOCKET listener_ = INVALID_SOCKET;
    std::atomic<bool> stop_{false};
    std::atomic<bool> proxy_{false};
    std::mutex mutex_;
    std::map<std::string, std::vector<Reply>> routes_;
    std::map<std::string, size_t> served_;
    std::vector<Request> requests_;
    std::thread thread_;
};

// A loopback URL on which nothing listens, so that opening it fails at once.
std::string UnreachableUrl(const std::string& path);

int64_t NowTicks();
