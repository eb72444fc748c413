// The firmware download on libcurl (the Linux build).
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <strings.h>

#include <cstring>
#include <memory>

#include "device/firmware/firmware_download.hpp"

namespace halvard {

namespace {

// How often a running download looks at `quit`. Short, so that closing the program is not held up
// by a stalled server or a slow name look-up.
constexpr long kQuitCheckMs = 50;
constexpr long kMaxRedirects = 5;

bool ensureCurlInitialised() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

std::string urlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
    std::string result(text);
    curl_free(text);
    return result;
}

// curl has already normalised the host (numeric IPv4 forms become dotted quads, IPv6 keeps its
// brackets), and it connects to exactly this host, so a strict literal check is enough.
bool isLoopbackHost(const std::string& host) {
    if (strcasecmp(host.c_str(), "localhost") == 0) return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        in6_addr v6{};
        const std::string inner = host.substr(1, host.size() - 2);
        return inet_pton(AF_INET6, inner.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
    }
    return false;
}

// Parses url; null unless it may be fetched. The same parsed handle is what curl then connects to.
UrlHandle parsePermittedUrl(std::string_view text, bool* plainHttp) {
    if (!ensureCurlInitialised()) return nullptr;
    UrlHandle url(curl_url());
    if (!url) return nullptr;
    const std::string copy(text);
    if (curl_url_set(url.get(), CURLUPART_URL, copy.c_str(), 0) != CURLUE_OK) return nullptr;
    const std::string scheme = urlPart(url.get(), CURLUPART_SCHEME);
    if (strcasecmp(scheme.c_str(), "https") == 0) {
        *plainHttp = false;
        return url;
    }
    if (strcasecmp(scheme.c_str(), "http") == 0 && isLoopbackHost(urlPart(url.get(), CURLUPART_HOST))) {
        *plainHttp = true;
        return url;
    }
    return nullptr;
}

struct ImageSink {
    FirmwareImage* image;
    size_t total = 0;
};

size_t writeIntoImage(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<ImageSink*>(user);
    const size_t bytes = size * count;
    // More than the image holds: not our image. Returning short aborts the transfer.
    if (bytes > kFirmwareImageBytes - sink->total) return 0;
    std::memcpy(sink->image->data() + sink->total, data, bytes);
    sink->total += bytes;
    return bytes;
}

}  // namespace

bool isPermittedFirmwareUrl(std::string_view url) {
    bool plainHttp = false;
    return parsePermittedUrl(url, &plainHttp) != nullptr;
}

bool downloadFirmwareImage(FirmwareImage& image, std::string_view baseUrl, const std::atomic<bool>& quit,
                           const DownloadLimits& limits) {
    image.fill(0);
    bool plainHttp = false;
    const UrlHandle url = parsePermittedUrl(firmwareImageUrl(baseUrl, firmwareCacheBustNumber()), &plainHttp);
    if (!url) return false;  // refused before any connection is made

    const EasyHandle easy(curl_easy_init());
    const MultiHandle multi(curl_multi_init());
    if (!easy || !multi) return false;

    ImageSink sink{&image};
    CURL* e = easy.get();
    bool configured = curl_easy_setopt(e, CURLOPT_CURLU, url.get()) == CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        configured = configured && curl_easy_setopt(e, option, value) == CURLE_OK;
    };
    set(CURLOPT_PROTOCOLS_STR, plainHttp ? "http,https" : "https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    // Plain http is allowed only because it never leaves the machine; a proxy would change that.
    if (plainHttp) set(CURLOPT_NOPROXY, "*");
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    set(CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    set(CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    set(CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    set(CURLOPT_USERAGENT, "halvard-editor");
    set(CURLOPT_WRITEFUNCTION, &writeIntoImage);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    if (!configured || curl_multi_add_handle(multi.get(), e) != CURLM_OK) return false;

    // The multi interface instead of curl_easy_perform: the loop wakes every kQuitCheckMs, so quit
    // ends the download promptly in every phase (name look-up, connect, stalled transfer).
    int running = 1;
    bool quitSeen = false;
    while (running > 0) {
        if (quit.load()) {
            quitSeen = true;
            break;
        }
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
        if (running > 0 && curl_multi_poll(multi.get(), nullptr, 0, kQuitCheckMs, nullptr) != CURLM_OK) break;
    }

    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == e) result = message->data.result;
    }
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi.get(), e);

    return !quitSeen && running == 0 && result == CURLE_OK && status >= 200 && status <= 299 &&
           sink.total == kFirmwareImageBytes;
}

}  // namespace halvard
