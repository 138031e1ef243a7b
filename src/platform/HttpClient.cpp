#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "platform/EndpointOrigin.h"
#include "platform/LocalizedError.h"

namespace kestrane::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

void initialiseCurlOnce() {
    // curl_global_init is not thread-safe; a function-local static runs it exactly once.
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

struct Transfer {
    std::string body;
    bool bodyTooLarge = false;
    std::chrono::milliseconds idleLimit{};
    SteadyClock::time_point lastActivity = SteadyClock::now();
    curl_off_t lastReceived = 0;
    curl_off_t lastSent = 0;
    bool idleTimedOut = false;
    const Cancellation* cancellation = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (transfer.body.size() + bytes > kMaxResponseBodyBytes) {
        transfer.bodyTooLarge = true;
        return 0;  // aborts the transfer
    }
    transfer.body.append(data, bytes);
    return bytes;
}

// Aborts a transfer that has made no progress for longer than the idle limit.
int watchProgress(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.cancellation && transfer.cancellation->isCancelled()) return 1;
    const auto now = SteadyClock::now();
    if (received != transfer.lastReceived || sent != transfer.lastSent) {
        transfer.lastReceived = received;
        transfer.lastSent = sent;
        transfer.lastActivity = now;
        return 0;
    }
    if (now - transfer.lastActivity > transfer.idleLimit) {
        transfer.idleTimedOut = true;
        return 1;
    }
    return 0;
}

std::string describe(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "Не удалось найти сервер с указанным именем.";
        case CURLE_COULDNT_CONNECT:
            return "Не удалось подключиться к серверу.";
        case CURLE_OPERATION_TIMEDOUT:
            return "Превышен лимит времени на запрос.";
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return "Произошла ошибка SSL, и безопасное соединение с сервером невозможно.";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return "Сетевое соединение было потеряно.";
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return "Неподдерживаемый URL.";
        case CURLE_OUT_OF_MEMORY:
            return "Недостаточно памяти для выполнения запроса.";
        default:
            return "Произошла неизвестная ошибка сети.";
    }
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool hostIsLoopback(const std::string& url) {
    CURLU* parsed = curl_url();
    if (!parsed) return false;
    bool loopback = false;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        if (curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host) {
            loopback = isLoopbackHost(host);
            curl_free(host);
        }
    }
    curl_url_cleanup(parsed);
    return loopback;
}

const char* const kCancelled = "Запрос отменён.";

// Runs the transfer in a multi handle of its own, so that a cancellation from another thread
// wakes the wait at once instead of at the next progress tick.
CURLcode perform(CURL* curl, Cancellation* cancellation) {
    if (!cancellation) return curl_easy_perform(curl);
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi.get(), curl) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
    CURLM* handle = multi.get();
    const int wakeUp = cancellation->addWakeUp([handle] { curl_multi_wakeup(handle); });
    CURLcode result = CURLE_OK;
    for (;;) {
        if (cancellation->isCancelled()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(handle, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        bool done = false;
        while (CURLMsg* message = curl_multi_info_read(handle, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (curl_multi_poll(handle, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    // No wake-up may reach the handle once it is gone.
    cancellation->removeWakeUp(wakeUp);
    curl_multi_remove_handle(handle, curl);
    return result;
}

}  // namespace

CurlHttpClient::CurlHttpClient(HttpSessionLimits limits) : limits_(limits) { initialiseCurlOnce(); }

std::optional<HttpResponse> CurlHttpClient::send(const HttpRequest& request) const {
    std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
    if (!handle) throw TransportError(describe(CURLE_OUT_OF_MEMORY));
    CURL* curl = handle.get();

    Transfer transfer;
    transfer.idleLimit = request.timeout.value_or(limits_.requestTimeout);
    transfer.cancellation = request.cancellation;
    if (request.cancellation && request.cancellation->isCancelled()) {
        throw TransportError(kCancelled);
    }
    const auto total = limits_.resourceTimeout;
    const auto connectLimit = std::min(transfer.idleLimit, total);

    std::unique_ptr<curl_slist, HeaderListDeleter> headers;
    for (const auto& [name, value] : request.headers) {
        const std::string line = name + ": " + value;
        curl_slist* extended = curl_slist_append(headers.get(), line.c_str());
        if (!extended) throw TransportError(describe(CURLE_OUT_OF_MEMORY));
        headers.release();
        headers.reset(extended);
    }

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (request.trustLoopbackCertificate && hostIsLoopback(request.url)) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (hostIsLoopback(request.url)) {
        // An empty proxy overrides the environment's proxy variables and no_proxy alike.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
    }
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(total.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectLimit.count()));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, watchProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    }

    const CURLcode code = perform(curl, request.cancellation);
    if (request.cancellation && request.cancellation->isCancelled()) {
        throw TransportError(kCancelled);
    }
    if (transfer.bodyTooLarge) return std::nullopt;
    if (transfer.idleTimedOut) throw TransportError(describe(CURLE_OPERATION_TIMEDOUT));
    if (code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_BAD_CONTENT_ENCODING ||
        code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM) {
        return std::nullopt;
    }
    if (code != CURLE_OK) throw TransportError(describe(code));

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100 || status > 999) return std::nullopt;
    return HttpResponse{static_cast<int>(status), std::move(transfer.body)};
}

std::string formUrlEncoded(const std::vector<std::pair<std::string, std::string>>& fields) {
    const auto encode = [](const std::string& text) {
        static constexpr char hex[] = "0123456789ABCDEF";
        std::string out;
        for (const unsigned char c : text) {
            if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 0xF];
            }
        }
        return out;
    };
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty()) body += '&';
        body += encode(name) + '=' + encode(value);
    }
    return body;
}

}  // namespace kestrane::platform
