#include "CurlPoster.h"

#include "Error.h"

#include <cmath>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace vardel {

namespace {

    std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* target)
    {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
    }

    struct Cancel {
        const std::atomic<std::uint64_t>* cancels;
        std::uint64_t seen;
    };

    int abortWhenCancelled(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        const auto* cancel = static_cast<const Cancel*>(data);
        return cancel->cancels->load() != cancel->seen ? 1 : 0;
    }

    struct EasyDeleter {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    struct ListDeleter {
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

} // namespace

CurlPoster::CurlPoster()
{
    // libcurl wants its global set-up done once before any handle exists, ideally before threads start.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HTTPPosting::Response CurlPoster::post(const Request& request)
{
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle)
        throw Error(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT), "libcurl");
    CURL* curl = handle.get();

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const auto& [name, value] : request.headers) {
        curl_slist* extended = curl_slist_append(headers.get(), (name + ": " + value).c_str());
        if (!extended)
            throw Error(CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY), "libcurl");
        (void)headers.release();
        headers.reset(extended);
    }
    // libcurl would otherwise add "Expect: 100-continue" to large uploads and wait for the server's go-ahead.
    curl_slist* extended = curl_slist_append(headers.get(), "Expect:");
    if (extended) {
        (void)headers.release();
        headers.reset(extended);
    }

    std::string body;
    char message[CURL_ERROR_SIZE] = {};
    const long timeoutMs = static_cast<long>(std::ceil(std::max(request.timeout, 0.001) * 1000));

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    }
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // A proxy from the environment must never see loopback traffic.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    Cancel cancel { &m_cancels, m_cancels.load() };
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenCancelled);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancel);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
        const std::string description = message[0] ? message : curl_easy_strerror(result);
        throw Error(static_cast<int>(result), description, "libcurl");
    }

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return { static_cast<int>(status), std::move(body) };
}

} // namespace vardel
