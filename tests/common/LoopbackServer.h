#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small HTTP/1.1 file server on 127.0.0.1 for the remote-reading tests and benchmarks.
// Every connection gets its own thread (so any number of clients are served at once) and is
// kept open for further requests until the client closes it; finished threads are reaped as
// new connections arrive, and all stop when the server is destroyed. A rule decides per request path whether to serve it or misbehave.
//
// Paths are what follows the first '/' of the request target, without the query string.
// A server can also insist on a query string (as object stores do for signed access, 403
// otherwise), on an Authorization header (401 otherwise), and redirect some paths.
class LoopbackServer
{
public:
    enum class Action { Serve, NotFound, ServerError, Drop, Hang };
    using Rule = std::function<Action(const std::string& path)>;

    LoopbackServer(std::filesystem::path root, Rule rule = nullptr) : m_root(std::move(root)), m_rule(std::move(rule))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 128) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { AcceptLoop(); });
    }

    ~LoopbackServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (Worker& w : m_workers)
            w.thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
    }

    // Set before the first request.
    void RequireQuery(std::string query) { m_query = std::move(query); }
    void RequireAuthorization(std::string value) { m_authorization = std::move(value); }
    // Sends requests for paths under `from` to the same path under `to` (a moved folder),
    // with the request's query, answering `code`.
    void Redirect(std::string from, std::string to, int code = 302) { m_redirects.push_back({std::move(from), std::move(to), code}); }

    // Answers requests for `path` with `reply` as it stands (status line, headers and body).
    void SetReply(std::string path, std::string reply) { m_replies.emplace_back(std::move(path), std::move(reply)); }
    // Answers ranged requests with the whole file (200), as some servers do.
    void IgnoreRanges() { m_ignoreRanges = true; }
    // Waits this long before each answer, as a distant server would.
    void SetLatency(int ms) { m_latencyMs = ms; }

    int Port() const { return m_port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path; }
    int Requests() const { return m_requests; }
    int Requests(const std::string& path)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const std::string& p : m_paths)
            n += p == path;
        return n;
    }
    // Requests that carried a Range header.
    int RangeRequests() const { return m_ranged; }
    // Requests answered 401 or 403.
    int Refused() const { return m_refused; }
    int Connections() const { return m_connections; }

private:
    struct Worker
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    void AcceptLoop()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            ++m_connections;
            // Long runs make many thousands of connections: join the threads that are done.
            for (auto it = m_workers.begin(); it != m_workers.end();) {
                if (*it->done) {
                    it->thread.join();
                    it = m_workers.erase(it);
                } else {
                    ++it;
                }
            }
            auto done = std::make_shared<std::atomic<bool>>(false);
            m_workers.push_back({std::thread([this, fd, done] {
                                     Handle(fd);
                                     *done = true;
                                 }),
                                 done});
        }
    }

    // Waits until the peer closes or the server stops.
    void WaitForClose(int fd)
    {
        char c[256];
        while (!m_stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && ::recv(fd, c, sizeof c, 0) <= 0)
                return;
        }
    }

    static std::string Header(const std::string& request, const std::string& name)
    {
        size_t at = 0;
        while ((at = request.find("\r\n", at)) != std::string::npos) {
            at += 2;
            if (request.compare(at, name.size(), name) == 0 && request.compare(at + name.size(), 1, ":") == 0) {
                size_t from = at + name.size() + 1;
                while (from < request.size() && request[from] == ' ')
                    ++from;
                return request.substr(from, request.find("\r\n", from) - from);
            }
        }
        return std::string();
    }

    // Answers requests on one connection until the client closes it (connections are kept
    // alive, as real servers do; a new connection per request would leave the benchmarks
    // running into thousands of sockets waiting out their close).
    void Handle(int fd)
    {
        std::string pending;
        char buffer[4096];
        for (;;) {
            size_t end = std::string::npos;
            while (!m_stop && (end = pending.find("\r\n\r\n")) == std::string::npos) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                pending.append(buffer, static_cast<size_t>(n));
            }
            if (m_stop || end == std::string::npos)
                break;
            const std::string request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            if (!Answer(fd, request))
                break;
        }
        ::close(fd);
    }

    // False when the connection is to be closed.
    bool Answer(int fd, const std::string& request)
    {
        const size_t start = request.find(' ');
        const size_t stop = start == std::string::npos ? start : request.find(' ', start + 1);
        if (stop == std::string::npos || request.compare(start + 1, 1, "/") != 0)
            return false;
        const std::string target = request.substr(start + 2, stop - start - 2);
        const size_t mark = target.find('?');
        const std::string path = target.substr(0, mark);
        const std::string query = mark == std::string::npos ? std::string() : target.substr(mark + 1);
        if (m_latencyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_latencyMs));
        ++m_requests;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_paths.push_back(path);
        }
        std::string reply;
        bool keep = true;
        const Moved* moved = nullptr;
        for (const Moved& m : m_redirects)
            if (path.compare(0, m.from.size(), m.from) == 0)
                moved = &m;
        if (!m_authorization.empty() && Header(request, "Authorization") != m_authorization) {
            ++m_refused;
            reply = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"test\"\r\nContent-Length: 0\r\n\r\n";
        } else if (!m_query.empty() && query != m_query) {
            ++m_refused;
            reply = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
        } else if (const std::string* canned = CannedReply(path)) {
            reply = *canned;
        } else if (moved) {
            reply = "HTTP/1.1 " + std::to_string(moved->code) + " Moved\r\nLocation: /" + moved->to + path.substr(moved->from.size()) +
                    (query.empty() ? "" : "?" + query) + "\r\nContent-Length: 0\r\n\r\n";
        } else {
            Action action = m_rule ? m_rule(path) : Action::Serve;
            std::string body;
            if (action == Action::Serve) {
                // In one read: the benchmarks time whole planes through this server.
                std::ifstream in(m_root / path, std::ios::binary | std::ios::ate);
                if (path.find("..") != std::string::npos || !in || std::filesystem::is_directory(m_root / path)) {
                    action = Action::NotFound;
                } else {
                    body.resize(static_cast<size_t>(in.tellg()));
                    in.seekg(0);
                    in.read(body.data(), static_cast<std::streamsize>(body.size()));
                }
            }
            const std::string range = Header(request, "Range");
            if (!range.empty())
                ++m_ranged;
            size_t from = 0, count = body.size();
            const int ranged = action == Action::Serve && !m_ignoreRanges && !range.empty() ? ParseRange(range, body.size(), from, count) : 0;
            switch (action) {
            case Action::Serve:
                if (ranged < 0) {
                    reply = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(body.size()) +
                            "\r\nContent-Length: 0\r\n\r\n";
                } else if (ranged > 0) {
                    reply = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                            std::to_string(from + count - 1) + "/" + std::to_string(body.size()) +
                            "\r\nContent-Length: " + std::to_string(count) + "\r\n\r\n";
                    reply.append(body, from, count);
                } else {
                    reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
                    reply += body;
                }
                break;
            case Action::NotFound: reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"; break;
            case Action::ServerError: reply = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"; break;
            case Action::Drop:
                reply = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial";
                keep = false;
                break;
            case Action::Hang: WaitForClose(fd); return false;
            }
        }
        for (size_t sent = 0; sent < reply.size();) {
            const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return keep && Header(request, "Connection") != "close";
    }

    // "bytes=a-b", "bytes=a-" or "bytes=-n" of a file of `size` bytes: 1 with the part, -1 when
    // it cannot be satisfied, 0 for a header this server does not understand (whole file).
    static int ParseRange(const std::string& header, size_t size, size_t& from, size_t& count)
    {
        if (header.compare(0, 6, "bytes=") != 0 || header.find(',') != std::string::npos)
            return 0;
        const std::string span = header.substr(6);
        const size_t dash = span.find('-');
        if (dash == std::string::npos)
            return 0;
        const std::string a = span.substr(0, dash), b = span.substr(dash + 1);
        if (a.empty()) {
            if (b.empty())
                return 0;
            const size_t n = std::stoul(b);
            if (n == 0 || size == 0)
                return -1;
            count = std::min(n, size);
            from = size - count;
            return 1;
        }
        from = std::stoul(a);
        if (from >= size)
            return -1;
        const size_t last = b.empty() ? size - 1 : std::min<size_t>(std::stoul(b), size - 1);
        if (last < from)
            return -1;
        count = last - from + 1;
        return 1;
    }

    const std::string* CannedReply(const std::string& path) const
    {
        for (const auto& r : m_replies)
            if (r.first == path)
                return &r.second;
        return nullptr;
    }

    std::filesystem::path m_root;
    Rule m_rule;
    std::vector<std::pair<std::string, std::string>> m_replies;
    bool m_ignoreRanges = false;
    int m_latencyMs = 0;
    std::atomic<int> m_ranged{0};
    std::string m_query;
    std::string m_authorization;
    struct Moved
    {
        std::string from, to;
        int code;
    };
    std::vector<Moved> m_redirects;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_refused{0};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    std::vector<std::string> m_paths;
    std::thread m_thread;
    std::list<Worker> m_workers; // only the accept thread changes it while it runs
};
