#include "ChunkStore.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

namespace ImageReader {

std::vector<ChunkStore::Result> ChunkStore::GetMany(const std::vector<std::string>& keys)
{
    std::vector<Result> results;
    results.reserve(keys.size());
    for (const std::string& key : keys)
        results.push_back(Get(key));
    return results;
}

std::vector<ChunkStore::Result> CachingStore::GetMany(const std::vector<std::string>& keys)
{
    std::vector<Result> results(keys.size());
    std::vector<std::string> misses;
    std::vector<size_t> missAt;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < keys.size(); ++i) {
            const auto it = m_index.find(keys[i]);
            if (it == m_index.end()) {
                misses.push_back(keys[i]);
                missAt.push_back(i);
                continue;
            }
            m_entries.splice(m_entries.begin(), m_entries, it->second);
            results[i] = it->second->second;
        }
    }
    if (misses.empty())
        return results;
    std::vector<Result> fetched = m_inner->GetMany(misses);
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t k = 0; k < fetched.size(); ++k) {
        Result& r = fetched[k];
        // Failures are not kept: the next read tries again.
        if (r.status != Status::Failed && r.bytes.size() <= m_budget / 4 && !m_index.count(misses[k])) {
            m_entries.emplace_front(misses[k], r);
            m_index[misses[k]] = m_entries.begin();
            m_bytes += r.bytes.size();
            EvictTo(m_budget);
        }
        results[missAt[k]] = std::move(r);
    }
    return results;
}

void CachingStore::EvictTo(size_t limit)
{
    while (m_bytes > limit && !m_entries.empty()) {
        m_bytes -= m_entries.back().second.bytes.size();
        m_index.erase(m_entries.back().first);
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

ChunkStore::Result FolderStore::Get(const std::string& key)
{
    Result result;
    const std::filesystem::path path = m_root / key;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        result.status = Status::Missing;
        return result;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.why = key + " is not a readable file";
        return result;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxKeyBytes) {
        result.why = key + (size < 0 ? " cannot be read" : " is too large to be a chunk");
        return result;
    }
    result.bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(result.bytes.data()), size)) {
        result.bytes.clear();
        result.why = key + " cannot be read";
        return result;
    }
    result.status = Status::Ok;
    return result;
}

namespace {

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer
{
    size_t index = 0;
    std::string url;
    std::string shown; // for messages: without the query and credentials
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
    // Room for the announced length at once: growing a chunk step by step copies it again and again.
    curl_off_t announced = -1;
    if (t->body.empty() && curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0 &&
        static_cast<std::uintmax_t>(announced) <= FolderStore::kMaxKeyBytes)
        t->body.reserve(static_cast<size_t>(announced));
    if (t->body.size() + n > FolderStore::kMaxKeyBytes) {
        t->tooLarge = true;
        return 0; // aborts the transfer
    }
    t->body.insert(t->body.end(), data, data + n);
    return n;
}

CURL* makeEasy(Transfer& t, const HttpOptions& o)
{
    CURL* easy = curl_easy_init();
    if (!easy)
        return nullptr;
    t.body.clear();
    t.easy = easy;
    t.tooLarge = false;
    t.error[0] = 0;
    curl_easy_setopt(easy, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.error);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, o.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, o.requestTimeoutMs);
    // A transfer that stalls is given up long before the overall limit.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, std::min(10L, o.requestTimeoutMs / 1000)));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(std::max(0, o.redirects)));
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    return easy;
}

} // namespace

// libcurl takes the URL apart: the query and the credentials must stay out of the path
// keys are added to, and out of messages.
HttpStore::HttpStore(std::string baseUrl, HttpOptions options) : m_options(options)
{
    initCurl();
    if (m_options.connections < 1)
        m_options.connections = 1;
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    auto part = [&](CURLUPart which) {
        char* text = nullptr;
        std::string value;
        if (curl_url_get(url.get(), which, &text, 0) == CURLUE_OK && text)
            value = text;
        curl_free(text);
        return value;
    };
    if (!url || curl_url_set(url.get(), CURLUPART_URL, baseUrl.c_str(), 0) != CURLUE_OK) {
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
    curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0);
    m_base = part(CURLUPART_URL);
    curl_url_set(url.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_OPTIONS, nullptr, 0);
    m_shown = part(CURLUPART_URL);
    if (m_base.empty() || m_base.back() != '/')
        m_malformed = "not a usable URL";
}

HttpStore::~HttpStore()
{
    for (void* multi : m_idle)
        curl_multi_cleanup(static_cast<CURLM*>(multi));
}

std::string HttpStore::KeyUrl(const std::string& key) const
{
    return m_base + key + m_query;
}

ChunkStore::Result HttpStore::Get(const std::string& key)
{
    return GetMany({key}).front();
}

// One multi handle per call: at most `connections` transfers run at a time; a transfer that
// fails transiently is queued again after a growing delay, up to `retries` times.
std::vector<ChunkStore::Result> HttpStore::GetMany(const std::vector<std::string>& keys)
{
    std::vector<Result> results(keys.size());
    std::vector<Transfer> transfers(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        transfers[i].index = i;
        transfers[i].url = KeyUrl(keys[i]);
        transfers[i].shown = m_shown + keys[i];
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
        multi = curl_multi_init();
        if (multi)
            curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(m_options.connections));
    }
    if (!multi) {
        for (Result& r : results)
            r.why = m_malformed.empty() ? "the HTTP client could not start" : m_shown + " is " + m_malformed;
        return results;
    }
    using Clock = std::chrono::steady_clock;
    struct Waiting
    {
        Clock::time_point at;
        size_t index;
    };
    std::vector<Waiting> queue;
    for (size_t i = 0; i < keys.size(); ++i)
        queue.push_back({Clock::now(), i});
    size_t next = 0; // queue entries before this have started
    int running = 0;
    size_t done = 0;

    auto fail = [&](size_t i, std::string why) {
        results[i].status = Status::Failed;
        results[i].why = std::move(why);
        results[i].bytes.clear();
        ++done;
    };

    while (done < keys.size()) {
        // Start what is due, within the connection limit.
        const auto now = Clock::now();
        for (size_t q = next; q < queue.size() && running < m_options.connections; ++q) {
            if (queue[q].at > now)
                continue;
            std::swap(queue[q], queue[next]);
            Transfer& t = transfers[queue[next].index];
            ++next;
            CURL* easy = makeEasy(t, m_options);
            if (!easy || curl_multi_add_handle(multi, easy) != CURLM_OK) {
                if (easy)
                    curl_easy_cleanup(easy);
                fail(t.index, "the HTTP client could not start a request");
                continue;
            }
            ++t.tries;
            ++running;
        }
        int still = 0;
        curl_multi_perform(multi, &still);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            CURL* easy = msg->easy_handle;
            Transfer* t = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
            long code = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
            const CURLcode rc = msg->data.result;
            curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            --running;
            if (!t)
                continue;
            Result& r = results[t->index];
            bool transient = false;
            std::string why;
            if (rc == CURLE_OK && code >= 200 && code < 300) {
                r.status = Status::Ok;
                r.bytes = std::move(t->body);
                ++done;
                continue;
            }
            if (rc == CURLE_OK && code == 404) {
                r.status = Status::Missing;
                ++done;
                continue;
            }
            if (t->tooLarge) {
                fail(t->index, t->shown + " is too large to be a chunk");
                continue;
            }
            if (rc != CURLE_OK) {
                why = t->shown + ": " + (t->error[0] ? std::string(t->error) : std::string(curl_easy_strerror(rc)));
                transient = rc != CURLE_UNSUPPORTED_PROTOCOL && rc != CURLE_URL_MALFORMAT && rc != CURLE_COULDNT_RESOLVE_HOST &&
                            rc != CURLE_TOO_MANY_REDIRECTS;
            } else {
                why = t->shown + ": the server answered " + std::to_string(code);
                transient = code >= 500 || code == 429 || code == 408;
            }
            if (transient && t->tries <= m_options.retries) {
                const long delay = m_options.retryDelayMs << (t->tries - 1);
                queue.push_back({Clock::now() + std::chrono::milliseconds(delay), t->index});
                continue;
            }
            fail(t->index, why);
        }
        if (done >= keys.size())
            break;
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 50, nullptr);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        const std::lock_guard<std::mutex> lock(m_idleMutex);
        m_idle.push_back(multi);
    }
    return results;
}

} // namespace ImageReader
