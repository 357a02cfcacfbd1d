#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <mutex>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

namespace ImageReader {

// Buffers for chunk bytes: what a server sent or a file holds, and a chunk's decoded rows.
// A chunk received into fresh memory costs a page fault per 4 KiB page at its first touch,
// more than fetching or decoding it: a buffer whose chunk was used waits here for the next
// chunk of about its size. Bounded in count and bytes; small buffers come from the heap's
// own free lists and are not kept, nor are very large ones. Safe from any thread.
class ChunkBufferPool
{
public:
    using Buffer = std::vector<std::uint8_t>;
    static constexpr size_t kPooledFrom = size_t(64) << 10;
    static constexpr size_t kLargest = size_t(16) << 20;

    explicit ChunkBufferPool(size_t keepBytes = size_t(32) << 20, size_t keepBuffers = 16)
        : m_keepBytes(keepBytes), m_keepBuffers(keepBuffers)
    {
    }
    ChunkBufferPool(const ChunkBufferPool&) = delete;
    ChunkBufferPool& operator=(const ChunkBufferPool&) = delete;
    // The one the stores and readers share; never destroyed (buffers may come back late).
    static ChunkBufferPool& Shared();

    // An empty buffer with room for at least `bytes`: the smallest waiting one that holds
    // them without wasting more than half of it, else a new one with some room to spare, so
    // that a later chunk a little larger fits it too. Without memory for it, an empty one.
    Buffer Take(size_t bytes);
    // Empties `buffer` and keeps it for a later Take; past the bounds the smallest waiting
    // buffers are freed first.
    void Give(Buffer&& buffer);
    // Frees every waiting buffer.
    void Drop();
    size_t WaitingBytes() const;
    size_t WaitingCount() const;

private:
    const size_t m_keepBytes, m_keepBuffers;
    mutable std::mutex m_mutex;
    std::vector<Buffer> m_waiting;
    size_t m_bytes = 0;
};

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
        // The bytes are the whole key although a part was asked for (a server that ignores
        // ranges); TakeRange cuts the part out.
        bool whole = false;
    };
    // Part of a key: `length` bytes from `offset`, or with a negative offset the last -offset
    // bytes; length -1 reads to the end. `limit` bounds what may arrive for it (a whole key
    // included, when a server ignores the range), after any content decoding.
    struct Range
    {
        std::string key;
        std::int64_t offset = 0;
        std::int64_t length = -1;
        std::uint64_t limit = kDefaultLimit;
        bool IsWhole() const { return offset == 0 && length < 0; }
        std::string CacheKey() const;
    };
    static constexpr std::uint64_t kDefaultLimit = (std::uint64_t(1) << 30) + (std::uint64_t(1) << 20);

    virtual ~ChunkStore() = default;
    // Metadata larger than this is refused (bounds a compressed HTTP body as well).
    static constexpr std::uint64_t kMetadataLimit = std::uint64_t(16) << 20;
    Result Get(const std::string& key, std::uint64_t limit = kDefaultLimit) { return GetMany({key}, limit).front(); }
    // Several keys at once; remote stores fetch them concurrently. Results are in key order.
    std::vector<Result> GetMany(const std::vector<std::string>& keys, std::uint64_t limit = kDefaultLimit);
    // Parts of keys, in the order asked. A part beyond the key's end fails.
    virtual std::vector<Result> GetRanges(const std::vector<Range>& ranges) = 0;
    // The same parts, each handed to `each` (on the calling thread) as soon as it is there,
    // so that the caller uses one while later ones are on their way. Remote stores start a
    // request at most `ahead` places past the first part not yet handed over, which bounds
    // what waits for a slow one. Here: all at once, then in order.
    using Each = std::function<void(size_t index, Result&& result)>;
    virtual void GetRangesEach(const std::vector<Range>& ranges, size_t ahead, const Each& each);
    // The folder or URL, for messages.
    virtual std::string Location() const = 0;
    // Keys that failed are not asked for again for a while; this forgets them (a reload).
    virtual void ForgetFailures() {}
    // Why the store's server is taken as failing (requests to it are slowed); "" when it is not.
    virtual std::string Trouble() const { return std::string(); }
    // Requests sent so far (for tests and benchmarks).
    virtual size_t RequestCount() const { return 0; }
};

// Cuts `range` out of a whole key's bytes (no-op unless result.whole).
void TakeRange(ChunkStore::Result& result, const ChunkStore::Range& range);

// Keys are files under a folder.
class FolderStore : public ChunkStore
{
public:
    // Stored keys larger than this are taken as damage, not read: the largest chunk the
    // metadata may declare (1 GiB), plus room for a codec's framing.
    static constexpr std::uintmax_t kMaxKeyBytes = (std::uintmax_t(1) << 30) + (std::uintmax_t(1) << 20);

    explicit FolderStore(std::filesystem::path root) : m_root(std::move(root)) {}
    std::vector<Result> GetRanges(const std::vector<Range>& ranges) override;
    std::string Location() const override { return m_root.string(); }

private:
    Result GetRange(const Range& range);
    std::filesystem::path m_root;
};

// Limits of every HTTP request, so that no server can stall a plane for long.
struct HttpOptions
{
    long connectTimeoutMs = 5000;
    long requestTimeoutMs = 30000;
    int retries = 1;          // further tries after a transient failure (timeouts, drops, 5xx)
    long retryDelayMs = 200;  // before the first retry; doubles after each
    // A key whose fetch failed (after its retries) is failed at once for this long, doubling
    // with each further failure up to the cap; later fetches of it are tried once.
    long backOffMs = 30000;
    long backOffCapMs = 60000;
    // After this many failed keys within a minute (and at least one failure per four
    // successes) the server is taken as failing: requests to it start one at a time,
    // `troubleDelayMs` apart.
    int troubleAfter = 8;
    long troubleDelayMs = 1000;
    // A request that receives less than lowSpeedBytes per second for lowSpeedSeconds is abandoned.
    long lowSpeedBytes = 256;
    long lowSpeedSeconds = 5;
    int connections = 4;      // requests in flight to the server, over all threads
    int redirects = 5;        // followed per request (same or other server, http/https only)
    // Recently fetched chunks kept by the reader until it is given a memory budget
    // (ZarrReader::SetMemoryBudget), and the most it keeps after that.
    size_t cacheBytes = size_t(256) << 20;
};

// Keys are paths below a base URL (http or https, through libcurl). 404 means missing.
// A call's keys are one read that needs them all: it stops at the first lasting failure.
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
    std::vector<Result> GetRanges(const std::vector<Range>& ranges) override;
    void GetRangesEach(const std::vector<Range>& ranges, size_t ahead, const Each& each) override;
    std::string Location() const override { return m_shown; }
    void ForgetFailures() override;
    std::string Trouble() const override;
    size_t RequestCount() const override { return m_requests.load(); }
    // The URL requested for a key.
    std::string KeyUrl(const std::string& key) const;

private:
    struct Failure
    {
        int count = 0;
        std::chrono::steady_clock::time_point until;
    };
    // With m_stateMutex held: why a key is not asked for now ("" when it may be).
    std::string BackingOff(const std::string& key, std::chrono::steady_clock::time_point now) const;
    void NoteFailure(const std::string& key);
    void NoteSuccess(const std::string& key);
    void CountOutcome(bool failed);                                    // with m_stateMutex held
    bool FailingLocked(std::chrono::steady_clock::time_point now) const; // with m_stateMutex held

    std::string m_base;  // up to the end of the path, which ends with '/'
    std::string m_query; // "" or "?..."
    std::string m_shown; // m_base without credentials
    std::string m_malformed; // why the URL cannot be used, if it cannot
    HttpOptions m_options;
    // Idle multi handles with their open connections: the next plane reuses them instead of
    // connecting (and for https negotiating) again. One per concurrent GetMany at most.
    std::mutex m_idleMutex;
    std::vector<void*> m_idle; // CURLM*
    mutable std::mutex m_stateMutex;
    std::unordered_map<std::string, Failure> m_failures; // by key
    std::chrono::steady_clock::time_point m_windowStart;
    int m_windowFailures = 0, m_windowSuccesses = 0;
    std::chrono::steady_clock::time_point m_nextStart; // while the server is failing
    std::atomic<int> m_inFlight{0};
    std::atomic<size_t> m_requests{0};
};

// Keeps the most recently fetched keys of another store, up to a byte budget, so that the
// planes of a chunk deeper than one plane cost one download. Meant for remote stores: a
// folder's files are in the system's page cache already.
class CachingStore : public ChunkStore
{
public:
    CachingStore(std::shared_ptr<ChunkStore> inner, size_t budgetBytes) : m_inner(std::move(inner)), m_budget(budgetBytes) {}
    std::vector<Result> GetRanges(const std::vector<Range>& ranges) override;
    void GetRangesEach(const std::vector<Range>& ranges, size_t ahead, const Each& each) override;
    std::string Location() const override { return m_inner->Location(); }
    void ForgetFailures() override { m_inner->ForgetFailures(); }
    std::string Trouble() const override { return m_inner->Trouble(); }
    size_t RequestCount() const override { return m_inner->RequestCount(); }
    // Shrinking drops the least recent keys at once.
    void SetBudget(size_t budgetBytes);

private:
    void EvictTo(size_t limit); // with m_mutex held
    void Keep(const std::string& key, const Result& r); // with m_mutex held
    // What an entry costs: its buffer and its bookkeeping, so that absent keys (no bytes) count too.
    static size_t Cost(const std::string& key, const Result& r) { return r.bytes.capacity() + key.size() + 96; }

    std::shared_ptr<ChunkStore> m_inner;
    size_t m_budget;
    std::mutex m_mutex;
    std::list<std::pair<std::string, Result>> m_entries; // most recent first
    std::unordered_map<std::string, std::list<std::pair<std::string, Result>>::iterator> m_index;
    size_t m_bytes = 0;
};

bool IsUrl(const std::string& text);

} // namespace ImageReader
