#include "device/firmware/firmware_download.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "loopback_http_server.hpp"

namespace halvard {
namespace {

using test::HttpResponse;
using test::LoopbackHttpServer;

// A recognisable image of version 2.0 (major 2 in byte 131069, minor 0 in byte 131068).
std::string imageBody(size_t size = kFirmwareImageBytes) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    if (size >= kFirmwareImageBytes) {
        body[kFirmwareImageBytes - 4] = 0x00;
        body[kFirmwareImageBytes - 3] = 0x02;
    }
    return body;
}

HttpResponse serve(std::string body, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

bool fetch(const std::string& base, FirmwareImage& image, const DownloadLimits& limits = {}) {
    std::atomic<bool> quit{false};
    return downloadFirmwareImage(image, base, quit, limits);
}

TEST(FirmwareUrl, AddressCarriesPathAndNumber) {
    EXPECT_EQ(firmwareImageUrl("https://fw.example", 42), "https://fw.example/fw/VDR.bin?v=42");
    EXPECT_EQ(firmwareImageUrl("https://fw.example/base//", 7), "https://fw.example/base/fw/VDR.bin?v=7");
}

TEST(FirmwareUrl, PlainHttpOnlyToLoopback) {
    for (const char* url :
         {"https://fw.example/x", "HTTPS://fw.example", "http://127.0.0.1:8080/x", "http://127.200.3.4/",
          "http://localhost:1/", "http://[::1]:9/", "HTTP://LocalHost/"}) {
        EXPECT_TRUE(isPermittedFirmwareUrl(url)) << url;
    }
    for (const char* url :
         {"http://fw.example/", "http://10.0.0.1/", "http://0.0.0.0/", "http://128.0.0.1/",
          "http://127.0.0.1@fw.example/", "http://127.0.0.1.fw.example/", "http://localhost.fw.example/",
          "http://[::ffff:10.0.0.1]/", "ftp://127.0.0.1/", "file:///etc/passwd", "fw.example/fw", ""}) {
        EXPECT_FALSE(isPermittedFirmwareUrl(url)) << url;
    }
}

TEST(FirmwareDownload, WholeImageArrives) {
    const std::string body = imageBody();
    LoopbackHttpServer server([&](const std::string&) { return serve(body); });
    FirmwareImage image;
    image.fill(0xAA);
    ASSERT_TRUE(fetch(server.baseUrl(), image));
    EXPECT_EQ(std::memcmp(image.data(), body.data(), image.size()), 0)
        << "image differs from the served bytes";
    EXPECT_EQ(firmwareImageVersion(image), 0x0200);
    // (GoogleTest's regular expressions on Windows have no character classes.)
    const auto cacheBust = testing::Truly([](const std::string& target) {
        const std::string prefix = "/fw/VDR.bin?v=";
        return target.size() > prefix.size() && target.compare(0, prefix.size(), prefix) == 0 &&
               target.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
    });
    EXPECT_THAT(server.targets(), testing::ElementsAre(cacheBust)) << "one GET of /fw/VDR.bin?v=<number>";
}

TEST(FirmwareDownload, AnythingButExactlyOneImageFails) {
    struct Case {
        const char* what;
        HttpResponse response;
    };
    HttpResponse lyingLength = serve(imageBody(kFirmwareImageBytes - 1));
    lyingLength.declaredLength = kFirmwareImageBytes;
    const Case cases[] = {
        {"one byte short", serve(imageBody(kFirmwareImageBytes - 1))},
        {"connection closed one byte short of the announced length", lyingLength},
        {"one byte too long", serve(imageBody(kFirmwareImageBytes + 1))},
        {"twice the size", serve(imageBody(2 * kFirmwareImageBytes))},
        {"empty", serve("")},
        {"status 404 with a full-size body", serve(imageBody(), 404)},
        {"status 500 with a full-size body", serve(imageBody(), 500)},
        {"status 300 without a location", serve(imageBody(), 300)},
    };
    for (const Case& c : cases) {
        LoopbackHttpServer server([&](const std::string&) { return c.response; });
        FirmwareImage image;
        EXPECT_FALSE(fetch(server.baseUrl(), image)) << c.what;
        EXPECT_EQ(server.connections(), 1) << c.what;
    }
}

TEST(FirmwareDownload, RefusedBeforeConnecting) {
    const std::string body = imageBody();
    LoopbackHttpServer server([&](const std::string&) { return serve(body); });
    FirmwareImage image;
    // On Linux 0.0.0.0 reaches the loopback listener, but it is not a loopback address: no request.
    EXPECT_FALSE(fetch("http://0.0.0.0:" + std::to_string(server.port()), image));
    EXPECT_EQ(server.connections(), 0);

    // A redirect to plain http is not followed, even to the same loopback server.
    LoopbackHttpServer redirecting([&](const std::string& target) {
        if (target.rfind("/fw/", 0) != 0) return serve(body);
        HttpResponse moved = serve("", 302);
        moved.headers.push_back("Location: http://127.0.0.1:" + std::to_string(server.port()) + "/image");
        return moved;
    });
    EXPECT_FALSE(fetch(redirecting.baseUrl(), image));
    EXPECT_EQ(server.connections(), 0) << "the redirect to http was followed";

    test::RefusingLoopbackPort closed;
    EXPECT_FALSE(fetch("http://127.0.0.1:" + std::to_string(closed.port()), image));
}

TEST(FirmwareDownload, StalledServerEndsOnQuitOrTimeLimit) {
    HttpResponse slow;
    slow.declaredLength = kFirmwareImageBytes;
    slow.trickleDelayMs = 20;
    LoopbackHttpServer server([&](const std::string&) { return slow; });
    FirmwareImage image;

    // Limits far beyond the test's own time-out: only quit can end this download in time.
    const DownloadLimits patient{60000, 600000, 1, 600};
    std::atomic<bool> quit{false};
    std::thread quitter([&] {
        while (server.connections() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        quit = true;
    });
    EXPECT_FALSE(downloadFirmwareImage(image, server.baseUrl(), quit, patient));
    quitter.join();

    const DownloadLimits impatient{1000, 600, 1, 600};
    EXPECT_FALSE(fetch(server.baseUrl(), image, impatient)) << "the overall time-out did not end it";
    const DownloadLimits lowSpeed{1000, 600000, 1000, 1};
    EXPECT_FALSE(fetch(server.baseUrl(), image, lowSpeed)) << "the low-speed limit did not end it";
}

}  // namespace
}  // namespace halvard
