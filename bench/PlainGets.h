#pragma once

// Plain GETs through libcurl, as the benchmarks' baselines for reading from a server.
#include <curl/curl.h>

#include <string>
#include <vector>

inline size_t collect(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<std::vector<char>*>(user);
    body->insert(body->end(), data, data + size * count);
    return size * count;
}

// Fetches `urls` as the reader's store does: over `multi` (its connections stay open from call
// to call), at most four transfers at a time, no decoding. False when one fails or is not
// answered `expected`.
inline bool getAll(CURLM* multi, const std::vector<std::string>& urls, std::vector<std::vector<char>>& bodies,
                   long expected = 200)
{
    bodies.assign(urls.size(), {});
    size_t started = 0, finished = 0;
    int running = 0;
    bool ok = true;
    while (finished < urls.size()) {
        while (running < 4 && started < urls.size()) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, urls[started].c_str());
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[started]);
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
            curl_multi_add_handle(multi, easy);
            ++started;
            ++running;
        }
        int still = 0;
        curl_multi_perform(multi, &still);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            long code = 0;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &code);
            ok = ok && msg->data.result == CURLE_OK && code == expected;
            curl_multi_remove_handle(multi, msg->easy_handle);
            curl_easy_cleanup(msg->easy_handle);
            --running;
            ++finished;
        }
        if (running > 0)
            curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    return ok;
}

inline CURLM* newMulti()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 4L);
    return multi;
}
