#include "ChunkStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "CurlLibrary.h"
#include "StopToken.h"

namespace ImageReader {

std::string ChunkStore::Range::CacheKey() const
{
    return IsWhole() ? key : key + "#" + std::to_string(offset) + "+" + std::to_string(length);
}

ChunkBufferPool& ChunkBufferPool::Shared()
{
    static ChunkBufferPool* pool = new ChunkBufferPool;
    return *pool;
}

ChunkBufferPool::Buffer ChunkBufferPool::Take(size_t bytes)
{
    Buffer buffer;
    if (bytes >= kPooledFrom && bytes <= kLargest) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        size_t best = m_waiting.size();
        for (size_t i = 0; i < m_waiting.size(); ++i) {
            const size_t c = m_waiting[i].capacity();
            if (c >= bytes && c - bytes <= c / 2 && (best == m_waiting.size() || c < m_waiting[best].capacity()))
                best = i;
        }
        if (best < m_waiting.size()) {
            buffer.swap(m_waiting[best]);
            m_waiting[best].swap(m_waiting.back());
            m_waiting.pop_back();
            m_bytes -= buffer.capacity();
            return buffer;
        }
    }
    // Out of memory here is left to the caller, which asks for the room itself and copes.
    try {
        buffer.reserve(bytes >= kPooledFrom && bytes <= kLargest ? bytes + bytes / 8 : bytes);
    } catch (const std::bad_alloc&) {
    }
    return buffer;
}

void ChunkBufferPool::Give(Buffer&& buffer)
{
    Buffer given;
    given.swap(buffer);
    const size_t capacity = given.capacity();
    if (capacity < kPooledFrom || capacity > kLargest)
        return;
    given.clear();
    std::vector<Buffer> freed; // freed outside the lock
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(given));
        m_bytes += capacity;
        while (!m_waiting.empty() && (m_bytes > m_keepBytes || m_waiting.size() > m_keepBuffers)) {
            const auto smallest = std::min_element(m_waiting.begin(), m_waiting.end(),
                                                   [](const Buffer& a, const Buffer& b) { return a.capacity() < b.capacity(); });
            m_bytes -= smallest->capacity();
            freed.push_back(std::move(*smallest));
            smallest->swap(m_waiting.back());
            m_waiting.pop_back();
        }
    }
}

void ChunkBufferPool::Drop()
{
    std::vector<Buffer> freed;
    const std::lock_guard<std::mutex> lock(m_mutex);
    freed.swap(m_waiting);
    m_bytes = 0;
}

size_t ChunkBufferPool::WaitingBytes() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

size_t ChunkBufferPool::WaitingCount() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.size();
}

std::vector<ChunkStore::Result> ChunkStore::GetMany(const std::vector<std::string>& keys, std::uint64_t limit)
{
    std::vector<Range> ranges;
    ranges.reserve(keys.size());
    for (const std::string& key : keys)
        ranges.push_back(Range{key, 0, -1, limit});
    return GetRanges(ranges);
}

void ChunkStore::GetRangesEach(const std::vector<Range>& ranges, size_t, const Each& each)
{
    std::vector<Result> results = GetRanges(ranges);
    for (size_t i = 0; i < results.size(); ++i)
        each(i, std::move(results[i]));
}

namespace {

// What a store that hands parts over one by one returns when asked for all of them.
std::vector<ChunkStore::Result> collect(ChunkStore& store, const std::vector<ChunkStore::Range>& ranges)
{
    std::vector<ChunkStore::Result> results(ranges.size());
    store.GetRangesEach(ranges, ranges.size(), [&](size_t i, ChunkStore::Result&& r) { results[i] = std::move(r); });
    return results;
}

// A kept key's copy, in a buffer from the pool.
ChunkStore::Result copyOf(const ChunkStore::Result& kept)
{
    ChunkStore::Result r;
    r.status = kept.status;
    r.why = kept.why;
    r.whole = kept.whole;
    r.bytes = ChunkBufferPool::Shared().Take(kept.bytes.size());
    r.bytes.assign(kept.bytes.begin(), kept.bytes.end());
    return r;
}

} // namespace

void TakeRange(ChunkStore::Result& result, const ChunkStore::Range& range)
{
    if (!result.whole)
        return;
    result.whole = false;
    if (result.status != ChunkStore::Status::Ok || range.IsWhole())
        return;
    const std::uint64_t size = result.bytes.size();
    std::uint64_t from = 0, count = 0;
    if (range.offset < 0) {
        count = std::min<std::uint64_t>(size, static_cast<std::uint64_t>(-range.offset));
        from = size - count;
    } else {
        from = static_cast<std::uint64_t>(range.offset);
        count = range.length < 0 ? (from <= size ? size - from : 0) : static_cast<std::uint64_t>(range.length);
    }
    if (from > size || count > size - from) {
        result.status = ChunkStore::Status::Failed;
        result.why = range.key + " is shorter than its index says";
        result.bytes.clear();
        return;
    }
    result.bytes.erase(result.bytes.begin() + static_cast<std::ptrdiff_t>(from + count), result.bytes.end());
    result.bytes.erase(result.bytes.begin(), result.bytes.begin() + static_cast<std::ptrdiff_t>(from));
}

std::vector<ChunkStore::Result> CachingStore::GetRanges(const std::vector<Range>& ranges)
{
    return collect(*this, ranges);
}

void CachingStore::GetRangesEach(const std::vector<Range>& ranges, size_t ahead, const Each& each)
{
    std::vector<Range> misses;
    std::vector<size_t> missAt;
    for (size_t i = 0; i < ranges.size(); ++i) {
        Result kept;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_index.find(ranges[i].CacheKey());
            bool whole = false;
            if (it == m_index.end() && !ranges[i].IsWhole()) {
                // The whole key, kept from a server that ignored a range.
                it = m_index.find(ranges[i].key);
                whole = true;
            }
            if (it == m_index.end()) {
                misses.push_back(ranges[i]);
                missAt.push_back(i);
                continue;
            }
            m_entries.splice(m_entries.begin(), m_entries, it->second);
            kept = copyOf(it->second->second);
            kept.whole = whole;
        }
        TakeRange(kept, ranges[i]);
        each(i, std::move(kept));
    }
    if (misses.empty())
        return;
    m_inner->GetRangesEach(misses, ahead, [&](size_t k, Result&& r) {
        // Failures are not kept: the store's back-off decides when to try again.
        if (r.status != Status::Failed) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            Keep(r.whole ? misses[k].key : misses[k].CacheKey(), r);
        }
        TakeRange(r, misses[k]);
        each(missAt[k], std::move(r));
    });
}

void CachingStore::Keep(const std::string& key, const Result& r)
{
    if (Cost(key, r) > m_budget / 4 || m_index.count(key))
        return;
    m_entries.emplace_front(key, copyOf(r));
    m_entries.front().second.whole = false;
    m_index[key] = m_entries.begin();
    m_bytes += Cost(key, m_entries.front().second);
    EvictTo(m_budget);
}

void CachingStore::EvictTo(size_t limit)
{
    while (m_bytes > limit && !m_entries.empty()) {
        m_bytes -= Cost(m_entries.back().first, m_entries.back().second);
        m_index.erase(m_entries.back().first);
        ChunkBufferPool::Shared().Give(std::move(m_entries.back().second.bytes));
        m_entries.pop_back();
    }
}

void CachingStore::SetBudget(size_t budgetBytes)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_budget = budgetBytes;
    EvictTo(m_budget);
}

bool IsUrl(const std::string& text)
{
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

std::vector<ChunkStore::Result> FolderStore::GetRanges(const std::vector<Range>& ranges)
{
    std::vector<Result> results;
    results.reserve(ranges.size());
    for (const Range& r : ranges)
        results.push_back(GetRange(r));
    return results;
}

ChunkStore::Result FolderStore::GetRange(const Range& range)
{
    Result result;
    const std::string& key = range.key;
    const std::filesystem::path path = m_root / key;
    std::error_code error;
    // A link could lead anywhere on the disk: keys are files inside the folder.
    auto status = std::filesystem::symlink_status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        result.status = Status::Missing;
        return result;
    }
    if (std::filesystem::is_symlink(status)) {
        const std::string root = std::filesystem::weakly_canonical(m_root, error).string() + "/";
        const std::string target = std::filesystem::weakly_canonical(path, error).string();
        if (error || target.compare(0, root.size(), root) != 0) {
            result.why = key + " links to a file outside the image's folder";
            return result;
        }
        status = std::filesystem::status(path, error);
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.why = key + " is not a readable file";
        return result;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) {
        result.why = key + " cannot be read";
        return result;
    }
    std::uint64_t from = 0, count = static_cast<std::uint64_t>(size);
    if (range.offset < 0) {
        count = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(-range.offset));
        from = static_cast<std::uint64_t>(size) - count;
    } else if (!range.IsWhole()) {
        from = static_cast<std::uint64_t>(range.offset);
        count = range.length < 0 ? (from <= count ? count - from : 0) : static_cast<std::uint64_t>(range.length);
        if (from > static_cast<std::uint64_t>(size) || count > static_cast<std::uint64_t>(size) - from) {
            result.why = key + " is shorter than its index says";
            return result;
        }
    }
    if (count > std::min<std::uint64_t>(range.limit, kMaxKeyBytes)) {
        result.why = key + " is too large to be a chunk";
        return result;
    }
    result.bytes = ChunkBufferPool::Shared().Take(static_cast<size_t>(count));
    result.bytes.resize(static_cast<size_t>(count));
    in.seekg(static_cast<std::streamoff>(from));
    if (!in.read(reinterpret_cast<char*>(result.bytes.data()), static_cast<std::streamsize>(count))) {
        ChunkBufferPool::Shared().Give(std::move(result.bytes));
        result.why = key + " cannot be read";
        return result;
    }
    result.status = Status::Ok;
    return result;
}

namespace {

// Loaded (and started) by the first web address.
const CurlLibrary& Curl()
{
    return CurlLibrary::Get();
}

struct Transfer
{
    size_t index = 0;
    std::string url;
    std::string shown; // for messages: without the query and credentials
    std::string range; // the Range header's value, "" for a whole key
    std::uint64_t limit = ChunkStore::kDefaultLimit;
    int tries = 0;
    std::vector<std::uint8_t> body;
    CURL* easy = nullptr;
    bool tooLarge = false;
    char error[CURL_ERROR_SIZE] = {};
};

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    // Room for the announced length at once, from the pool: growing a chunk step by step
    // copies it again and again, and fresh memory is faulted in page by page.
    curl_off_t announced = -1;
    if (t->body.empty() && Curl().easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0 &&
        static_cast<std::uint64_t>(announced) <= t->limit) {
        ChunkBufferPool& pool = ChunkBufferPool::Shared();
        if (t->body.capacity() < static_cast<size_t>(announced))
            pool.Give(std::exchange(t->body, pool.Take(static_cast<size_t>(announced))));
    }
    // After content decoding too: a small gzip body must not inflate past what was promised.
    if (t->body.size() + n > t->limit) {
        t->tooLarge = true;
        return 0; // aborts the transfer
    }
    t->body.insert(t->body.end(), data, data + n);
    return n;
}

// A job that is cancelled stops its transfers at once.
int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return StopRequested() ? 1 : 0;
}

CURL* makeEasy(Transfer& t, const HttpOptions& o)
{
    CURL* easy = Curl().easy_init();
    if (!easy)
        return nullptr;
    t.body.clear();
    t.easy = easy;
    t.tooLarge = false;
    t.error[0] = 0;
    Curl().easy_setopt(easy, CURLOPT_URL, t.url.c_str());
    Curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
    Curl().easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    Curl().easy_setopt(easy, CURLOPT_PRIVATE, &t);
    Curl().easy_setopt(easy, CURLOPT_ERRORBUFFER, t.error);
    Curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, o.connectTimeoutMs);
    Curl().easy_setopt(easy, CURLOPT_TIMEOUT_MS, o.requestTimeoutMs);
    // A transfer that trickles is given up long before the overall limit.
    Curl().easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, o.lowSpeedBytes));
    Curl().easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, std::min(o.lowSpeedSeconds, std::max(1L, o.requestTimeoutMs / 1000))));
    Curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    Curl().easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    Curl().easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    Curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    Curl().easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(std::max(0, o.redirects)));
    Curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    Curl().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    Curl().easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    if (!t.range.empty())
        Curl().easy_setopt(easy, CURLOPT_RANGE, t.range.c_str());
    return easy;
}

} // namespace

// libcurl takes the URL apart: the query and the credentials must stay out of the path
// keys are added to, and out of messages.
HttpStore::HttpStore(std::string baseUrl, HttpOptions options) : m_options(options)
{
    if (!Curl().error.empty()) {
        m_malformed = "not reachable here: " + Curl().error;
        m_shown = baseUrl.substr(0, baseUrl.find_first_of("?#"));
        return;
    }
    if (m_options.connections < 1)
        m_options.connections = 1;
    const std::unique_ptr<CURLU, decltype(CurlLibrary::url_cleanup)> url(Curl().url(), Curl().url_cleanup);
    auto part = [&](CURLUPart which) {
        char* text = nullptr;
        std::string value;
        if (Curl().url_get(url.get(), which, &text, 0) == CURLUE_OK && text)
            value = text;
        Curl().free(text);
        return value;
    };
    if (!url || Curl().url_set(url.get(), CURLUPART_URL, baseUrl.c_str(), 0) != CURLUE_OK) {
        m_malformed = "not a usable URL";
        // Still something to show, without what may follow the path.
        m_shown = baseUrl.substr(0, baseUrl.find_first_of("?#"));
        return;
    }
    const std::string query = part(CURLUPART_QUERY);
    if (!query.empty())
        m_query = "?" + query;
    std::string path = part(CURLUPART_PATH);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    path += '/';
    Curl().url_set(url.get(), CURLUPART_QUERY, nullptr, 0);
    Curl().url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
    Curl().url_set(url.get(), CURLUPART_PATH, path.c_str(), 0);
    m_base = part(CURLUPART_URL);
    Curl().url_set(url.get(), CURLUPART_USER, nullptr, 0);
    Curl().url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);
    Curl().url_set(url.get(), CURLUPART_OPTIONS, nullptr, 0);
    m_shown = part(CURLUPART_URL);
    if (m_base.empty() || m_base.back() != '/')
        m_malformed = "not a usable URL";
}

HttpStore::~HttpStore()
{
    for (void* multi : m_idle)
        Curl().multi_cleanup(static_cast<CURLM*>(multi));
}

std::string HttpStore::KeyUrl(const std::string& key) const
{
    return m_base + key + m_query;
}

std::string HttpStore::BackingOff(const std::string& key, std::chrono::steady_clock::time_point now) const
{
    const auto it = m_failures.find(key);
    if (it == m_failures.end() || it->second.until <= now)
        return std::string();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(it->second.until - now).count() + 1;
    return m_shown + key + " failed " + std::to_string(it->second.count) + " time(s); not asked again for " +
           std::to_string(seconds) + " s";
}

// Outcomes are counted over windows of a minute; a fresh window starts from nothing.
void HttpStore::CountOutcome(bool failed)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_windowStart > std::chrono::minutes(1)) {
        m_windowStart = now;
        m_windowFailures = m_windowSuccesses = 0;
    }
    ++(failed ? m_windowFailures : m_windowSuccesses);
}

bool HttpStore::FailingLocked(std::chrono::steady_clock::time_point now) const
{
    // A few bad keys among many good ones are the keys' trouble, not the server's.
    return now - m_windowStart <= std::chrono::minutes(1) && m_windowFailures >= m_options.troubleAfter &&
           m_windowFailures * 4 >= m_windowSuccesses;
}

void HttpStore::NoteFailure(const std::string& key)
{
    const std::lock_guard<std::mutex> lock(m_stateMutex);
    Failure& f = m_failures[key];
    ++f.count;
    const long delay = std::min(m_options.backOffCapMs, m_options.backOffMs << std::min(f.count - 1, 16));
    f.until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
}

void HttpStore::NoteSuccess(const std::string& key)
{
    const std::lock_guard<std::mutex> lock(m_stateMutex);
    m_failures.erase(key);
    CountOutcome(false);
}

void HttpStore::ForgetFailures()
{
    const std::lock_guard<std::mutex> lock(m_stateMutex);
    m_failures.clear();
    m_windowFailures = m_windowSuccesses = 0;
}

std::string HttpStore::Trouble() const
{
    const std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!FailingLocked(std::chrono::steady_clock::now()))
        return std::string();
    return m_shown + " is failing (" + std::to_string(m_windowFailures) + " failed requests in the last minute); it is asked less often";
}

// One multi handle per call; at most `connections` transfers run at a time over all calls.
// A transfer that fails transiently is queued again after a growing delay, up to `retries`
// times (once only for a key that failed before); a key that failed is then failed at once
// for a while (back-off), and a server failing again and again gets one request at a time.
std::vector<ChunkStore::Result> HttpStore::GetRanges(const std::vector<Range>& ranges)
{
    return collect(*this, ranges);
}

void HttpStore::GetRangesEach(const std::vector<Range>& ranges, size_t ahead, const Each& each)
{
    std::vector<Result> results(ranges.size());
    std::vector<Transfer> transfers(ranges.size());
    std::vector<int> allowed(ranges.size(), 1 + std::max(0, m_options.retries));
    using Clock = std::chrono::steady_clock;
    size_t done = 0;
    // Parts before `handed` have all been handed over; requests start below handed + ahead.
    std::vector<char> over(ranges.size(), 0);
    size_t handed = 0;
    const auto hand = [&](size_t i) {
        ++done;
        over[i] = 1;
        each(i, std::move(results[i]));
        while (handed < over.size() && over[handed])
            ++handed;
    };
    const auto handAll = [&] {
        for (size_t i = 0; i < results.size(); ++i)
            each(i, std::move(results[i]));
    };
    ahead = std::max<size_t>(ahead, 1);
    auto fail = [&](size_t i, std::string why) {
        results[i].status = Status::Failed;
        results[i].why = std::move(why);
        ChunkBufferPool::Shared().Give(std::move(results[i].bytes));
        hand(i);
    };
    struct Waiting
    {
        Clock::time_point at;
        size_t index;
    };
    std::vector<Waiting> queue;
    {
        const std::lock_guard<std::mutex> lock(m_stateMutex);
        const auto now = Clock::now();
        for (size_t i = 0; i < ranges.size(); ++i) {
            const Range& r = ranges[i];
            Transfer& t = transfers[i];
            t.index = i;
            t.url = KeyUrl(r.key);
            t.shown = m_shown + r.key;
            t.limit = std::min(r.limit, kDefaultLimit);
            if (r.offset < 0)
                t.range = "-" + std::to_string(-r.offset);
            else if (!r.IsWhole())
                t.range = std::to_string(r.offset) + "-" + (r.length < 0 ? std::string() : std::to_string(r.offset + r.length - 1));
            if (m_failures.count(r.key))
                allowed[i] = 1;
            queue.push_back({now, i});
        }
        // A read needs all its keys: one that failed recently fails the whole read at once.
        for (size_t i = 0; i < ranges.size(); ++i) {
            const std::string why = BackingOff(ranges[i].key, now);
            if (why.empty())
                continue;
            for (size_t k = 0; k < ranges.size(); ++k)
                results[k].why = why;
            handAll();
            return;
        }
    }
    CURLM* multi = nullptr;
    if (m_malformed.empty()) {
        const std::lock_guard<std::mutex> lock(m_idleMutex);
        if (!m_idle.empty()) {
            multi = static_cast<CURLM*>(m_idle.back());
            m_idle.pop_back();
        }
    }
    if (!multi && m_malformed.empty()) {
        multi = Curl().multi_init();
        if (multi)
            Curl().multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(m_options.connections));
    }
    if (!multi) {
        for (Result& r : results)
            if (r.why.empty())
                r.why = m_malformed.empty() ? "the HTTP client could not start" : m_shown + " is " + m_malformed;
        handAll();
        return;
    }
    size_t next = 0; // queue entries before this have started
    int running = 0;
    std::vector<CURL*> active;
    std::string lostWhy; // set at the first lasting failure

    while (done < ranges.size()) {
        if (StopRequested()) {
            for (CURL* easy : active) {
                Curl().multi_remove_handle(multi, easy);
                Curl().easy_cleanup(easy);
                --m_inFlight;
            }
            active.clear();
            running = 0;
            for (size_t q = next; q < queue.size(); ++q)
                fail(queue[q].index, "stopped");
            for (Transfer& t : transfers)
                if (t.easy) {
                    t.easy = nullptr;
                    fail(t.index, "stopped");
                }
            break;
        }
        // Start what is due, within the connection limit shared by every call.
        const auto now = Clock::now();
        bool failing = false;
        {
            const std::lock_guard<std::mutex> lock(m_stateMutex);
            failing = FailingLocked(now);
        }
        for (size_t q = next; q < queue.size() && running < m_options.connections; ++q) {
            if (queue[q].at > now || queue[q].index >= handed + ahead)
                continue;
            if (failing) {
                const std::lock_guard<std::mutex> lock(m_stateMutex);
                if (m_nextStart > now || running > 0)
                    break;
                m_nextStart = now + std::chrono::milliseconds(m_options.troubleDelayMs);
            }
            if (m_inFlight.fetch_add(1) >= m_options.connections) {
                --m_inFlight;
                break;
            }
            std::swap(queue[q], queue[next]);
            Transfer& t = transfers[queue[next].index];
            ++next;
            CURL* easy = makeEasy(t, m_options);
            if (!easy || Curl().multi_add_handle(multi, easy) != CURLM_OK) {
                if (easy)
                    Curl().easy_cleanup(easy);
                t.easy = nullptr;
                --m_inFlight;
                fail(t.index, "the HTTP client could not start a request");
                continue;
            }
            active.push_back(easy);
            ++m_requests;
            ++t.tries;
            ++running;
        }
        int still = 0;
        Curl().multi_perform(multi, &still);
        int left = 0;
        while (CURLMsg* msg = Curl().multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            CURL* easy = msg->easy_handle;
            Transfer* t = nullptr;
            Curl().easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
            long code = 0;
            Curl().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
            const CURLcode rc = msg->data.result;
            Curl().multi_remove_handle(multi, easy);
            Curl().easy_cleanup(easy);
            active.erase(std::remove(active.begin(), active.end(), easy), active.end());
            --m_inFlight;
            --running;
            if (!t)
                continue;
            t->easy = nullptr;
            const Range& range = ranges[t->index];
            Result& r = results[t->index];
            bool transient = false;
            std::string why;
            if (rc == CURLE_OK && code >= 200 && code < 300) {
                r.status = Status::Ok;
                r.bytes = std::move(t->body);
                // 200 to a ranged request: the server sent the whole key.
                r.whole = !t->range.empty() && code != 206;
                if (code == 206 && range.length >= 0 && r.bytes.size() != static_cast<size_t>(range.length)) {
                    fail(t->index, t->shown + ": the server sent " + std::to_string(r.bytes.size()) + " bytes of a range of " +
                                       std::to_string(range.length));
                    continue;
                }
                NoteSuccess(range.key);
                hand(t->index);
                continue;
            }
            if (rc == CURLE_OK && code == 404) {
                r.status = Status::Missing;
                NoteSuccess(range.key);
                hand(t->index);
                continue;
            }
            if (t->tooLarge) {
                fail(t->index, t->shown + " is larger than its metadata allows");
                continue;
            }
            if (rc != CURLE_OK) {
                why = t->shown + ": " + (t->error[0] ? std::string(t->error) : std::string(Curl().easy_strerror(rc)));
                transient = rc != CURLE_UNSUPPORTED_PROTOCOL && rc != CURLE_URL_MALFORMAT && rc != CURLE_COULDNT_RESOLVE_HOST &&
                            rc != CURLE_TOO_MANY_REDIRECTS && rc != CURLE_ABORTED_BY_CALLBACK;
            } else {
                why = t->shown + ": the server answered " + std::to_string(code);
                transient = code >= 500 || code == 429 || code == 408;
            }
            bool serverFailing = false;
            if (transient) {
                const std::lock_guard<std::mutex> lock(m_stateMutex);
                CountOutcome(true);
                serverFailing = FailingLocked(Clock::now());
            }
            // A failing server is not asked twice for the same key in one read, and a read
            // that is lost already asks for nothing more.
            if (transient && t->tries < allowed[t->index] && !serverFailing && lostWhy.empty()) {
                const long delay = m_options.retryDelayMs << (t->tries - 1);
                queue.push_back({Clock::now() + std::chrono::milliseconds(delay), t->index});
                continue;
            }
            if (transient)
                NoteFailure(range.key);
            fail(t->index, why);
            if (lostWhy.empty())
                lostWhy = why;
        }
        if (!lostWhy.empty()) {
            // The read is lost: what is in flight is dropped and what has not started is not asked for.
            for (CURL* easy : active) {
                Transfer* t = nullptr;
                Curl().easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
                Curl().multi_remove_handle(multi, easy);
                Curl().easy_cleanup(easy);
                --m_inFlight;
                --running;
                if (t) {
                    t->easy = nullptr;
                    fail(t->index, "not asked for: " + lostWhy);
                }
            }
            active.clear();
            for (size_t q = next; q < queue.size(); ++q)
                fail(queue[q].index, "not asked for: " + lostWhy);
            queue.resize(next);
        }
        if (done >= ranges.size())
            break;
        if (running > 0)
            Curl().multi_poll(multi, nullptr, 0, 50, nullptr);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        const std::lock_guard<std::mutex> lock(m_idleMutex);
        m_idle.push_back(multi);
    }
    // What failed transfers received goes back for the next chunks.
    for (Transfer& t : transfers)
        ChunkBufferPool::Shared().Give(std::move(t.body));
}

} // namespace ImageReader
