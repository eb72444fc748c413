// The firmware download on WinHTTP (the Windows build), in asynchronous mode: the worker waits
// for each step in short slices, so that `quit` and the time limits end a download in any phase
// (name look-up, connect, a stalled transfer) by closing its handles.
//
// Redirects are followed here, not by WinHTTP, and only to https: WinHTTP on its own would follow
// one from http to http.
#include <windows.h>
#include <winhttp.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "device/firmware/firmware_download.hpp"

namespace halvard {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kQuitCheckMs = 50;
constexpr int kMaxRedirects = 5;
constexpr DWORD kCloseWaitMs = 2000;  // for WinHTTP to let go of a closed request
constexpr DWORD kReadChunkBytes = 4096;

std::wstring widen(std::string_view text) {
    std::wstring out;
    if (text.empty()) return out;
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// A URL taken apart by WinHTTP: the very parts the request is then made of.
struct Url {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;  // with the query
};

// A strict literal check of what WinHTTP connects to: a dotted-quad 127.x.x.x, ::1 or localhost.
bool isLoopbackHost(std::wstring host) {
    if (CompareStringOrdinal(host.c_str(), -1, L"localhost", -1, TRUE) == CSTR_EQUAL) return true;
    if (host.size() > 2 && host.front() == L'[' && host.back() == L']')
        host = host.substr(1, host.size() - 2);
    IN_ADDR v4{};
    if (InetPtonW(AF_INET, host.c_str(), &v4) == 1) return v4.S_un.S_un_b.s_b1 == 127;
    IN6_ADDR v6{};
    if (InetPtonW(AF_INET6, host.c_str(), &v6) == 1) {
        static const IN6_ADDR loopback = IN6ADDR_LOOPBACK_INIT;
        return std::memcmp(&v6, &loopback, sizeof v6) == 0;
    }
    return false;
}

// The parts of url, when it may be fetched: https to any host, http only to loopback.
bool parsePermittedUrl(std::string_view text, Url& url) {
    const std::wstring wide = widen(text);
    if (wide.empty()) return false;
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) ||
        parts.dwHostNameLength == 0) {
        return false;
    }
    url.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    url.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    if (url.host.front() == L'[') {
        // An IPv6 literal, brackets and all (Wine's WinHttpCrackUrl returns only the "[").
        const wchar_t* end = std::wcschr(parts.lpszHostName, L']');
        if (!end) return false;
        url.host.assign(parts.lpszHostName, static_cast<size_t>(end + 1 - parts.lpszHostName));
    }
    url.port = parts.nPort;
    url.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    url.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (url.path.empty()) url.path = L"/";
    if (url.secure) return true;
    return parts.nScheme == INTERNET_SCHEME_HTTP && isLoopbackHost(url.host);
}

struct HandleCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// What the callback reports to the waiting worker, one step at a time.
struct Step {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);   // a step completed or failed
    HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // the request handle is gone
    DWORD status = 0;  // the WINHTTP_CALLBACK_STATUS_... that ended the step
    DWORD bytes = 0;   // DATA_AVAILABLE: bytes waiting; READ_COMPLETE: bytes read
    // What each read fills, copied out once it has completed: a read still going when the request
    // is abandoned writes here, kept with the step, never into the caller's image.
    uint8_t chunk[kReadChunkBytes];
    ~Step() {
        CloseHandle(done);
        CloseHandle(closed);
    }
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* step = reinterpret_cast<Step*>(context);
    if (!step) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            step->status = status;
            SetEvent(step->done);
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            step->status = status;
            step->bytes = length;
            SetEvent(step->done);
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            step->status = status;
            step->bytes = info && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : 0;
            SetEvent(step->done);
            break;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            SetEvent(step->closed);
            break;
        default:
            break;
    }
}

// One request on a session: sends it, waits for each step in slices, and owns the request handle
// until WinHTTP has let go of it (its callback refers to the Step).
class Request {
public:
    Request(HINTERNET session, const Url& url, const std::atomic<bool>& quit, const DownloadLimits& limits,
            Clock::time_point deadline)
        : quit_(quit), limits_(limits), deadline_(deadline) {
        connection_.reset(WinHttpConnect(session, url.host.c_str(), url.port, 0));
        if (!connection_) return;
        request_ =
            WinHttpOpenRequest(connection_.get(), L"GET", url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                               WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0);
        if (!request_) return;
        // One request per connection, closed with the request (also when it is abandoned).
        DWORD features = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(request_, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        WinHttpSetOption(request_, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(step_.get());
        WinHttpSetOption(request_, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    }

    ~Request() {
        if (!request_) return;
        WinHttpCloseHandle(request_);
        // Until the handle has closed, WinHTTP may still call back with this step: one that has not
        // closed by now keeps its step for good (a small leak rather than a write to freed memory).
        if (WaitForSingleObject(step_->closed, kCloseWaitMs) != WAIT_OBJECT_0) (void)step_.release();
    }

    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Sends the request and waits for the reply's headers.
    bool send() {
        if (!request_ || !step_->done || !step_->closed) return false;
        return WinHttpSendRequest(request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                  reinterpret_cast<DWORD_PTR>(step_.get())) &&
               wait(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE) &&
               WinHttpReceiveResponse(request_, nullptr) && wait(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE);
    }

    DWORD statusCode() const {
        DWORD code = 0, size = sizeof code;
        WinHttpQueryHeaders(request_, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
        return code;
    }

    std::wstring location() const {
        DWORD size = 0;
        WinHttpQueryHeaders(request_, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                            WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
        if (size == 0) return {};
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (!WinHttpQueryHeaders(request_, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, text.data(),
                                 &size, WINHTTP_NO_HEADER_INDEX)) {
            return {};
        }
        text.resize(size / sizeof(wchar_t));
        return text;
    }

    // Reads the body into image; true when it is exactly the image's size. Each read asks only for
    // what has arrived, so that it completes at once (a read for more waits until it is filled).
    bool readBody(FirmwareImage& image) {
        size_t total = 0;
        Clock::time_point windowStart = Clock::now();
        size_t windowBytes = 0;
        for (;;) {
            if (!WinHttpQueryDataAvailable(request_, nullptr) ||
                !wait(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE)) {
                return false;
            }
            const DWORD waiting = step_->bytes;
            if (waiting == 0) return total == image.size();
            if (total >= image.size()) return false;  // longer than the image: not our image
            const DWORD room =
                static_cast<DWORD>(std::min<size_t>({image.size() - total, waiting, kReadChunkBytes}));
            if (!WinHttpReadData(request_, step_->chunk, room, nullptr) ||
                !wait(WINHTTP_CALLBACK_STATUS_READ_COMPLETE) || step_->bytes == 0) {
                return false;
            }
            const DWORD got = std::min(step_->bytes, room);
            std::memcpy(image.data() + total, step_->chunk, got);
            total += got;
            windowBytes += got;
            // Slower than the low-speed limit over a whole window ends the download.
            const auto now = Clock::now();
            if (now - windowStart >= std::chrono::seconds(limits_.lowSpeedSeconds)) {
                if (windowBytes <
                    static_cast<size_t>(limits_.lowSpeedBytesPerSecond * limits_.lowSpeedSeconds)) {
                    return false;
                }
                windowStart = now;
                windowBytes = 0;
            }
        }
    }

private:
    // Waits for the step to end with `expected`; false on an error, quit or the deadline.
    bool wait(DWORD expected) {
        const auto lowSpeedLimit = std::chrono::seconds(limits_.lowSpeedSeconds);
        const auto started = Clock::now();
        for (;;) {
            if (quit_.load() || Clock::now() >= deadline_) return false;
            if (WaitForSingleObject(step_->done, kQuitCheckMs) == WAIT_OBJECT_0)
                return step_->status == expected;
            const auto now = Clock::now();
            // Waiting a whole low-speed window for the next bytes is below any limit.
            if (expected == WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE && limits_.lowSpeedBytesPerSecond > 0 &&
                now - started >= lowSpeedLimit) {
                return false;
            }
        }
    }

    const std::atomic<bool>& quit_;
    const DownloadLimits& limits_;
    Clock::time_point deadline_;
    std::unique_ptr<Step> step_ = std::make_unique<Step>();
    Handle connection_;
    HINTERNET request_ = nullptr;
};

// An absolute https Location, or one relative to the server of an https request; else empty.
std::string redirectTarget(const Url& from, const std::wstring& location) {
    std::wstring target = location;
    if (!target.empty() && target.front() == L'/' && (target.size() < 2 || target[1] != L'/')) {
        if (!from.secure) return {};
        target = L"https://" + from.host + L":" + std::to_wstring(from.port) + target;
    }
    if (CompareStringOrdinal(target.c_str(), std::min<int>(8, static_cast<int>(target.size())), L"https://",
                             8, TRUE) != CSTR_EQUAL) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, target.c_str(), static_cast<int>(target.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, target.c_str(), static_cast<int>(target.size()), out.data(), n,
                            nullptr, nullptr);
    }
    return out;
}

}  // namespace

bool isPermittedFirmwareUrl(std::string_view url) {
    Url parts;
    return parsePermittedUrl(url, parts);
}

bool downloadFirmwareImage(FirmwareImage& image, std::string_view baseUrl, const std::atomic<bool>& quit,
                           const DownloadLimits& limits) {
    image.fill(0);
    Url url;
    if (!parsePermittedUrl(firmwareImageUrl(baseUrl, firmwareCacheBustNumber()), url)) return false;

    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.totalTimeoutMs);
    // Plain http is allowed only because it never leaves the machine; a proxy would change that.
    const Handle session(WinHttpOpen(
        L"halvard-editor", url.secure ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session) return false;
    const int connectMs = static_cast<int>(limits.connectTimeoutMs);
    const int totalMs = static_cast<int>(limits.totalTimeoutMs);
    WinHttpSetTimeouts(session.get(), connectMs, connectMs, totalMs, totalMs);
    if (WinHttpSetStatusCallback(session.get(), &onStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        return false;
    }

    for (int redirects = 0; redirects <= kMaxRedirects; ++redirects) {
        Request request(session.get(), url, quit, limits, deadline);
        if (!request.send()) return false;
        const DWORD status = request.statusCode();
        if (status >= 200 && status <= 299) return request.readBody(image) && !quit.load();
        if (status < 300 || status > 399) return false;
        const std::string next = redirectTarget(url, request.location());
        if (next.empty() || !parsePermittedUrl(next, url)) return false;
    }
    return false;
}

}  // namespace halvard
