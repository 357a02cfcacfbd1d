#pragma once

#include <cstdint>
#include <filesystem>
#include <list>
#include <mutex>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

namespace ImageReader {

// Where a Zarr hierarchy's keys (".zattrs", "0/.zarray", "0/1/2/3", ...) are read from.
// Stores may be used from several threads at once.
class ChunkStore
{
public:
    enum class Status { Ok, Missing, Failed };
    struct Result
    {
        Status status = Status::Failed;
        std::vector<std::uint8_t> bytes;
        std::string why; // for Failed
    };

    virtual ~ChunkStore() = default;
    virtual Result Get(const std::string& key) = 0;
    // Several keys at once; remote stores fetch them concurrently. Results are in key order.
    virtual std::vector<Result> GetMany(const std::vector<std::string>& keys);
    // The folder or URL, for messages.
    virtual std::string Location() const = 0;
};

// Keys are files under a folder.
class FolderStore : public ChunkStore
{
public:
    // Stored keys larger than this are taken as damage, not read: the largest chunk the
    // metadata may declare (1 GiB), plus room for a codec's framing.
    static constexpr std::uintmax_t kMaxKeyBytes = (std::uintmax_t(1) << 30) + (std::uintmax_t(1) << 20);

    explicit FolderStore(std::filesystem::path root) : m_root(std::move(root)) {}
    Result Get(const std::string& key) override;
    std::string Location() const override { return m_root.string(); }

private:
    std::filesystem::path m_root;
};

// Limits of every HTTP request, so that no server can stall a plane for long.
struct HttpOptions
{
    long connectTimeoutMs = 5000;
    long requestTimeoutMs = 30000;
    int retries = 2;          // further tries after a transient failure (timeouts, drops, 5xx)
    long retryDelayMs = 200;  // before the first retry; doubles after each
    int connections = 4;      // concurrent requests of one GetMany
    int redirects = 5;        // followed per request (same or other server, http/https only)
    // Recently fetched chunks kept by the reader until it is given a memory budget
    // (ZarrReader::SetMemoryBudget), and the most it keeps after that.
    size_t cacheBytes = size_t(256) << 20;
};

// Keys are paths below a base URL (http or https, through libcurl). 404 means missing.
// Keys go into the URL's path; a query string (a shared access token, as object stores hand
// out for a prefix) is sent with every request, a #fragment never. user:password@ in the URL
// is sent as basic authentication. Neither the query nor the credentials appear in
// Location() or in any message.
class HttpStore : public ChunkStore
{
public:
    HttpStore(std::string baseUrl, HttpOptions options);
    ~HttpStore() override;
    HttpStore(const HttpStore&) = delete;
    HttpStore& operator=(const HttpStore&) = delete;
    Result Get(const std::string& key) override;
    std::vector<Result> GetMany(const std::vector<std::string>& keys) override;
    std::string Location() const override { return m_shown; }
    // The URL requested for a key.
    std::string KeyUrl(const std::string& key) const;

private:
    std::string m_base;  // up to the end of the path, which ends with '/'
    std::string m_query; // "" or "?..."
    std::string m_shown; // m_base without credentials
    std::string m_malformed; // why the URL cannot be used, if it cannot
    HttpOptions m_options;
    // Idle multi handles with their open connections: the next plane reuses them instead of
    // connecting (and for https negotiating) again. One per concurrent GetMany at most.
    std::mutex m_idleMutex;
    std::vector<void*> m_idle; // CURLM*
};

// Keeps the most recently fetched keys of another store, up to a byte budget, so that the
// planes of a chunk deeper than one plane cost one download. Meant for remote stores: a
// folder's files are in the system's page cache already.
class CachingStore : public ChunkStore
{
public:
    CachingStore(std::shared_ptr<ChunkStore> inner, size_t budgetBytes) : m_inner(std::move(inner)), m_budget(budgetBytes) {}
    Result Get(const std::string& key) override { return GetMany({key}).front(); }
    std::vector<Result> GetMany(const std::vector<std::string>& keys) override;
    std::string Location() const override { return m_inner->Location(); }
    // Shrinking drops the least recent keys at once.
    void SetBudget(size_t budgetBytes);

private:
    void EvictTo(size_t limit); // with m_mutex held

    std::shared_ptr<ChunkStore> m_inner;
    size_t m_budget;
    std::mutex m_mutex;
    std::list<std::pair<std::string, Result>> m_entries; // most recent first
    std::unordered_map<std::string, std::list<std::pair<std::string, Result>>::iterator> m_index;
    size_t m_bytes = 0;
};

bool IsUrl(const std::string& text);

} // namespace ImageReader
