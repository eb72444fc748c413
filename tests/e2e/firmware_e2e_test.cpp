// The firmware update end to end: the device worker on real JACK ports fetches the image from a
// loopback HTTP server, and the amplifier emulator receives, stores and runs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/firmware/firmware_download.hpp"
#include "editor_worker.hpp"
#include "loopback_http_server.hpp"

namespace halvard::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

std::string imageOfVersion(uint16_t version) {
    std::string image(kFirmwareImageBytes, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 13 + i / 256 + 1) & 0xFF);
    image[kFirmwareImageBytes - 3] = static_cast<char>(version >> 8);
    image[kFirmwareImageBytes - 4] = static_cast<char>(version & 0xFF);
    return image;
}

TEST(FirmwareE2e, OlderAmplifierIsUpdatedOnceWithTheServedImage) {
    std::string why;
    ASSERT_TRUE(ensureJackServer(&why)) << why;

    const std::string served = imageOfVersion(0x0200);
    test::LoopbackHttpServer server([&](const std::string&) {
        test::HttpResponse response;
        response.body = served;
        return response;
    });
    const std::filesystem::path dump = std::filesystem::path(::testing::TempDir()) / "firmware-e2e-dump";
    std::filesystem::remove_all(dump);
    EmulatorProcess emulator({"--firmware", "1.9", "--dump-dir", dump.string()});
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();

    HttpFirmwareSource source(server.baseUrl());
    {
        EditorWorker editor(&source, nullptr, dump / "backups");
        const DeviceMirror& mirror = editor.mirror;
        // The transfer, the store, the restart (the ports stay away 2.5 s), and the sync afterwards.
        const bool updated = EmulatorProcess::waitFor(
            [&] { return mirror.linkState == LinkState::Connected && mirror.firmwareVersion == 0x0200; },
            60s);
        ASSERT_TRUE(updated) << "link " << static_cast<int>(mirror.linkState.load()) << ", version "
                             << mirror.firmwareVersion << "\n"
                             << emulator.transcript();
        std::vector<int32_t> percentages;
        for (const Shown& shown : editor.shown())
            if (shown.progress >= 0 && shown.progress <= 100) percentages.push_back(shown.progress);
        std::vector<int32_t> expected;
        for (int k = 1; k < 512; ++k) expected.push_back(100 * k / 512);
        expected.push_back(100);
        EXPECT_EQ(percentages, expected) << "one transfer, its percentages in order";
    }

    EXPECT_EQ(emulator.received(0x07), 512);
    EXPECT_EQ(emulator.received(0x09), 1);
    EXPECT_GE(emulator.received(0x0C), 1);
    Bytes store = {0xF0, 0x00, 0x09, 0x10, 0x0F, 0x0F, 0x0F, 0x0F, 'V', 'D', 'R', '.', 'b', 'i', 'n'};
    store.resize(72, 0x00);
    store.push_back(0xF7);
    bool storeSeen = false;
    for (const Bytes& m : emulator.messages())
        storeSeen = storeSeen || (m.size() > 2 && m[2] == 0x09 && m == store);
    EXPECT_TRUE(storeSeen) << "the firmware store, byte for byte";

    const auto firmware = EmulatorProcess::fields(emulator.command("firmware"));
    EXPECT_EQ(firmware.at("version"), "2.0");
    EXPECT_EQ(firmware.at("stores"), "1");
    std::ifstream file(firmware.at("file"), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(file), {}) == served)
        << "the stored image differs from the served one";
    EXPECT_EQ(server.targets().size(), 1u) << "the image is fetched once per run";
}

}  // namespace
}  // namespace halvard::e2e
