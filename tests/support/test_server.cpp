// Scripted loopback HTTP server.
#include "support/test_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace {

struct WinsockStartup {
    WinsockStartup() { WSADATA data; WSAStartup(MAKEWORD(2, 2), &data); }
};

void EnsureWinsock()
{
    static WinsockStartup startup;
}

bool SendAll(SOCKET s, const char* data, size_t size)
{
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int sent = send(s, data, chunk, 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool SendAll(SOCKET s, const std::string& text)
{
    return SendAll(s, text.data(), text.size());
}

std::string HeaderValue(const std::string& headers, const std::string& name)
{
    std::string lower = headers;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    std::string key = "\r\n" + name + ":";
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    const size_t at = lower.find(key);
    if (at == std::string::npos)
        return std::string();
    size_t start = at + key.size();
    while (start < headers.size() && headers[start] == ' ')
        ++start;
    const size_t end = headers.find("\r\n", start);
    return headers.substr(start, end - start);
}

// Waits up to ms, returning early (false) when the client has closed its end or the server stops.
bool ClientStillThere(SOCKET client, DWORD ms, const std::atomic<bool>& stop)
{
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (stop)
            return false;
        if (now >= deadline)
            return true;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        const DWORD left = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100));
        timeval wait = {0, static_cast<long>(left * 1000)};
        if (select(0, &readable, nullptr, nullptr, &wait) > 0) {
            char probe;
            if (recv(client, &probe, 1, MSG_PEEK) <= 0)
                return false;
            Sleep(left);  // data from the client (not expected): keep waiting
        }
    }
}

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

}  // namespace

int64_t NowTicks()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

TestServer::TestServer(const std::string& address, uint16_t port) : address_(address)
{
    EnsureWinsock();
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        listen(listener_, 16) != 0) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        return;
    }
    int size = sizeof where;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &size);
    port_ = ntohs(where.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TestServer::~TestServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ != INVALID_SOCKET)
        closesocket(listener_);
}

std::string TestServer::BaseUrl() const
{
    return "http://" + address_ + (port_ == 80 ? std::string() : ":" + std::to_string(port_));
}

void TestServer::Route(const std::string& path, std::vector<Reply> replies)
{
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(replies);
    served_[path] = 0;
}

std::vector<Request> TestServer::Requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestServer::Serve()
{
    while (!stop_) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        const SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        Answer(client);
    }
}

void TestServer::Answer(SOCKET client)
{
    DWORD patience = 10000;  // never hang on a client that keeps its end open
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience), sizeof patience);
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const int got = recv(client, chunk, sizeof chunk, 0);
        if (got <= 0) {
            closesocket(client);
            return;
        }
        head.append(chunk, static_cast<size_t>(got));
    }
    Request request;
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t space1 = line.find(' ');
    const size_t space2 = line.find(' ', space1 + 1);
    request.method = line.substr(0, space1);
    request.target = line.substr(space1 + 1, space2 - space1 - 1);
    request.headers = head.substr(lineEnd, head.find("\r\n\r\n") - lineEnd + 2);
    request.userAgent = HeaderValue(request.headers, "User-Agent");
    if (proxy_ && request.target.compare(0, 7, "http://") == 0) {
        request.absoluteTarget = request.target;
        const size_t pathStart = request.target.find('/', 7);
        request.target = pathStart == std::string::npos ? "/" : request.target.substr(pathStart);
    }
    const std::string path = request.target.substr(0, request.target.find('?'));

    Reply reply;
    reply.status = 404;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto route = routes_.find(path);
        if (route != routes_.end() && !route->second.empty()) {
            size_t& index = served_[path];
            reply = route->second[std::min(index, route->second.size() - 1)];
            ++index;
        }
    }

    std::string headers = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                          "\r\nConnection: close\r\nCache-Control: max-age=3600\r\n";
    switch (reply.length) {
    case Reply::Length::Exact:
        headers += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        break;
    case Reply::Length::Longer:
        headers += "Content-Length: " + std::to_string(reply.body.size() + reply.extraAnnounced) + "\r\n";
        break;
    case Reply::Length::Chunked:
        headers += "Transfer-Encoding: chunked\r\n";
        break;
    case Reply::Length::None:
        break;
    }
    headers += reply.extraHeaders + "\r\n";
    bool ok = true;
    if (reply.stallBeforeHeadersMs)
        ok = ClientStillThere(client, reply.stallBeforeHeadersMs, stop_);
    ok = ok && SendAll(client, headers);
    if (ok && reply.pieces > 0) {
        const size_t piece = (reply.body.size() + reply.pieces - 1) / reply.pieces;
        for (size_t at = 0; ok && at < reply.body.size(); at += piece) {
            ok = ClientStillThere(client, reply.pieceDelayMs, stop_) &&
                 SendAll(client, reply.body.data() + at, std::min(piece, reply.body.size() - at));
        }
    } else if (reply.length == Reply::Length::Chunked) {
        for (size_t at = 0; ok && at < reply.body.size(); at += 1000) {
            const std::string part = reply.body.substr(at, 1000);
            char size[32];
            snprintf(size, sizeof size, "%zx\r\n", part.size());
            ok = SendAll(client, size) && SendAll(client, part) && SendAll(client, "\r\n");
        }
        ok = ok && SendAll(client, "0\r\n\r\n");
    } else {
        const size_t half = reply.body.size() / 2;
        ok = ok && SendAll(client, reply.body.data(), half);
        if (reply.pauseMidBodyMs)
            ok = ok && ClientStillThere(client, reply.pauseMidBodyMs, stop_);
        ok = ok && SendAll(client, reply.body.data() + half, reply.body.size() - half);
    }
    request.servedAt = NowTicks();
    request.completed = ok;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    if (reply.reset) {
        linger abort = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    } else {
        // Let the client close first (so it never sees a reset), but never wait past a stop.
        shutdown(client, SD_SEND);
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (!stop_ && GetTickCount64() < deadline) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            timeval wait = {0, 100000};
            if (select(0, &readable, nullptr, nullptr, &wait) > 0 && recv(client, chunk, sizeof chunk, 0) <= 0)
                break;
        }
    }
    closesocket(client);
}

std::string UnreachableUrl(const std::string& path)
{
    EnsureWinsock();
    // Bind a port, then free it: nothing listens there afterwards.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
    bind(s, reinterpret_cast<sockaddr*>(&where), sizeof where);
    int size = sizeof where;
    getsockname(s, reinterpret_cast<sockaddr*>(&where), &size);
    closesocket(s);
    return "http://127.0.0.1:" + std::to_string(ntohs(where.sin_port)) + path;
}
