#include "CancellablePoster.h"

#include "Error.h"

#include <cmath>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace vardel {

namespace {

    struct Transfer {
        std::string body;
        std::size_t maxBody;
        bool tooLarge = false;
        const std::atomic<bool>* cancelled;
    };

    std::size_t receive(char* data, std::size_t size, std::size_t count, void* target)
    {
        auto* transfer = static_cast<Transfer*>(target);
        std::size_t bytes = size * count;
        if (bytes > transfer->maxBody - transfer->body.size()) {
            transfer->tooLarge = true;
            return 0; // libcurl ends the transfer with CURLE_WRITE_ERROR
        }
        transfer->body.append(data, bytes);
        return bytes;
    }

    // Called by libcurl several times a second even while no byte moves.
    int progress(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        return static_cast<Transfer*>(target)->cancelled->load() ? 1 : 0;
    }

    struct Cleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
        void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    };

} // namespace

static_assert(CancellablePoster::kTooLarge == CURLE_FILESIZE_EXCEEDED);

CancellablePoster::CancellablePoster(std::size_t maxBody)
    : m_maxBody(maxBody)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HTTPPosting::Response CancellablePoster::post(const Request& request)
{
    if (m_cancelled)
        throw Error(CURLE_ABORTED_BY_CALLBACK, "transferência cancelada", "libcurl");
    std::unique_ptr<CURL, Cleanup> handle(curl_easy_init());
    if (!handle)
        throw Error(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT), "libcurl");
    CURL* curl = handle.get();

    // An empty "Expect:" stops libcurl from waiting for "100 Continue" before a large body.
    std::unique_ptr<curl_slist, Cleanup> headers(curl_slist_append(nullptr, "Expect:"));
    for (const auto& [name, value] : request.headers) {
        if (curl_slist* longer = curl_slist_append(headers.get(), (name + ": " + value).c_str())) {
            (void)headers.release();
            headers.reset(longer);
        }
    }

    Transfer transfer { {}, m_maxBody, false, &m_cancelled };
    char message[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        if (request.method != "POST")
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(
        curl, CURLOPT_TIMEOUT_MS, static_cast<long>(std::ceil(std::max(request.timeout, 0.001) * 1000)));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);

    const CURLcode result = curl_easy_perform(curl);
    if (transfer.tooLarge)
        throw Error(
            CURLE_WRITE_ERROR, "resposta maior que " + std::to_string(m_maxBody) + " bytes", "libcurl");
    if (result != CURLE_OK)
        throw Error(static_cast<int>(result), message[0] ? message : curl_easy_strerror(result), "libcurl");
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return { static_cast<int>(status), std::move(transfer.body) };
}

} // namespace vardel
