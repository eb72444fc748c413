#include "device/firmware/firmware_update.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "device/link/clock.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using test::Bytes;

FirmwareImage makeImage(uint16_t version) {
    FirmwareImage image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 256);
    image[kFirmwareImageBytes - 3] = static_cast<uint8_t>(version >> 8);
    image[kFirmwareImageBytes - 4] = static_cast<uint8_t>(version & 0xFF);
    return image;
}

// Watches what the editor sends after every virtual step (the fake amplifier acknowledges):
// reassembles the chunks and notes the percentage on the panel while each one is awaited.
struct TransferWatcher {
    TransferWatcher(test::FakePorts& p, DeviceMirror& m) : ports(p), mirror(m) {}
    test::FakePorts& ports;
    DeviceMirror& mirror;

    size_t seen = 0;
    int chunks = 0;
    int stores = 0;
    Bytes lastStore;
    std::vector<int32_t> progressWhileAwaited;  // per chunk, then the store
    FirmwareImage received{};
    bool offsetsInOrder = true;

    void look() {
        for (; seen < ports.sent.size(); ++seen) {
            const Bytes& m = ports.sent[seen].bytes;
            if (m.size() == kFirmwareChunkMessageBytes && m[2] == kCodeFirmwareChunk) {
                size_t offset = 0;
                for (size_t i = 3; i < 9; ++i) offset = offset << 4 | m[i];
                offsetsInOrder = offsetsInOrder && offset == static_cast<size_t>(chunks) * 256;
                for (size_t i = 0; i < 256 && offset + i < received.size(); ++i)
                    received[offset + i] = static_cast<uint8_t>(m[9 + 2 * i] << 4 | m[10 + 2 * i]);
                ++chunks;
                progressWhileAwaited.push_back(mirror.progress);
            } else if (m.size() > 2 && m[2] == kCodeStore) {
                ++stores;
                lastStore = m;
                progressWhileAwaited.push_back(mirror.progress);
            }
        }
    }
};

class FakeFirmware final : public FirmwareSource {
public:
    explicit FakeFirmware(uint16_t v) : version(v) {}
    uint16_t version;
    int calls = 0;
    std::function<void()> during;  // runs inside the download
    bool downloadFirmwareImage(FirmwareImage& image, const std::atomic<bool>&) override {
        ++calls;
        image = makeImage(version);
        if (during) during();
        return true;
    }
};

// An amplifier on fake ports in virtual time, with the transfer watched.
struct Rig {
    VirtualClock clock;
    test::FakePorts ports{clock};
    DeviceMirror mirror;
    LinkContext ctx;
    TransferWatcher amp{ports, mirror};

    Rig() {
        ctx.ui = &mirror;
        ctx.clock = &clock;
        ctx.ports = &ports;
        ports.plugAmp();
        clock.onAdvance = [this](Clock::TimePoint) { amp.look(); };
    }

    long long sentAtMs(int code) const {
        for (const auto& s : ports.sent)
            if (s.bytes[2] == code) return s.atMs;
        return -1;
    }
};

struct FirmwareTransfer : ::testing::Test, Rig {
    FirmwareImage image = makeImage(0x0200);

    void SetUp() override {
        ports.openPort(PortDirection::Input, 2, "midi Input");
        ports.openPort(PortDirection::Output, 1, "midi Output");
        mirror.linkState = LinkState::Busy;
        mirror.progress = kProgressReading;
        ctx.failures = 1;
    }
};

TEST(FirmwareProgress, FollowsChunkCount) {
    for (size_t k = 1; k < 512; ++k) {
        EXPECT_EQ(firmwareTransferProgress(kFirmwareImageBytes - 256 * k),
                  static_cast<int32_t>(100 * k / 512))
            << "after chunk " << k;
    }
}

TEST_F(FirmwareTransfer, WholeImageThenStoreThenHundred) {
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Ok);

    EXPECT_EQ(amp.chunks, 512);
    EXPECT_TRUE(amp.offsetsInOrder);
    EXPECT_TRUE(amp.received == image) << "reassembled image differs";
    ASSERT_EQ(amp.stores, 1);
    Bytes store = {0xF0, 0x00, 0x09, 0x10, 0x0F, 0x0F, 0x0F, 0x0F, 'V', 'D', 'R', '.', 'b', 'i', 'n'};
    store.resize(72, 0x00);
    store.push_back(0xF7);
    EXPECT_EQ(amp.lastStore, store);

    ASSERT_EQ(amp.progressWhileAwaited.size(), 513u);
    for (int k : {1, 5, 6, 10, 128, 507, 511}) {
        EXPECT_EQ(amp.progressWhileAwaited[static_cast<size_t>(k - 1)], 100 * k / 512) << "after chunk " << k;
    }
    EXPECT_EQ(amp.progressWhileAwaited[511], 99) << "the 512th chunk sets no value";
    EXPECT_EQ(amp.progressWhileAwaited[512], 99) << "100 only once the store is acknowledged";
    EXPECT_EQ(mirror.progress, 100);
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
    EXPECT_EQ(ctx.failures, 0);
}

TEST_F(FirmwareTransfer, MissingAcknowledgementEndsTransferWithError) {
    ports.amp.transferAcks = 10;
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Timeout);
    EXPECT_EQ(amp.chunks, 11) << "nothing is sent after the unanswered chunk";
    EXPECT_EQ(amp.stores, 0);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 2);
    EXPECT_EQ(mirror.progress, 100 * 11 / 512);

    // An unanswered store is a failure too; progress never reaches 100.
    ports.amp.transferAcks = 512;
    mirror.linkState = LinkState::Busy;
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Timeout);
    EXPECT_EQ(amp.stores, 1);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(mirror.progress, 99);
    EXPECT_EQ(ctx.failures, 3);
}

TEST_F(FirmwareTransfer, QuitOrClosedPortReportsNothing) {
    clock.onAdvance = [this](Clock::TimePoint) {
        amp.look();
        if (amp.chunks == 4) ctx.quit = true;
    };
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Abandoned);
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
    EXPECT_EQ(ctx.failures, 1);

    ctx.quit = false;
    const size_t before = ports.sent.size();
    ports.closePort(PortDirection::Output);
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::NotSent);
    EXPECT_EQ(ports.sent.size(), before);
    EXPECT_EQ(mirror.progress, 100 * 4 / 512);
}

// The update as a step of the worker's sync.
struct SyncRig : Rig {
    explicit SyncRig(uint16_t amplifierVersion, uint16_t imageVersion) : firmware(imageVersion) {
        ports.amp.version = amplifierVersion;
        ctx.firmware = &firmware;
        // A folder of this rig's own: test processes run side by side, and two backups named by
        // the same second in one folder would meet.
        ctx.backupFolder = std::filesystem::path(::testing::TempDir()) /
                           ("firmware-sync-backups-" + std::to_string(std::random_device{}()));
    }
    ~SyncRig() {
        std::error_code ignored;
        std::filesystem::remove_all(ctx.backupFolder, ignored);
    }
    FakeFirmware firmware;
    DeviceWorker worker{ctx};

    std::vector<int> codesOfPass() {
        const size_t mark = ports.sent.size();
        worker.runPass();
        return ports.sentCodes(mark);
    }
};

// The version read, every program read for the backup (and the current one again), the transfer.
std::vector<int> updateCodes(int chunks, bool store) {
    std::vector<int> codes = {0x0B};
    codes.insert(codes.end(), kProgramCount + 1, 0x02);
    codes.insert(codes.end(), static_cast<size_t>(chunks), 0x07);
    if (store) codes.push_back(0x09);
    codes.push_back(0x0C);
    return codes;
}

const std::vector<int> kSyncCodes = {0x0B, 0x02, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};

TEST(FirmwareSync, NewerImageIsSentStoredAndRestartedOnce) {
    SyncRig rig(0x0109, 0x0200);
    EXPECT_EQ(rig.codesOfPass(), updateCodes(512, true)) << "no settings read after an update";
    EXPECT_TRUE(rig.amp.received == makeImage(0x0200)) << "reassembled image differs";
    EXPECT_GE(rig.sentAtMs(0x0C), rig.sentAtMs(0x09) + 200) << "100 ms after the store's ack, 100 ms more";
    EXPECT_GE(rig.clock.elapsedMs(), rig.sentAtMs(0x0C) + 2000) << "2 s settle after the restart request";
    EXPECT_EQ(rig.ctx.failures, 0);
    EXPECT_EQ(rig.mirror.availableFirmware, 0) << "the image is forgotten with the mirror";
    EXPECT_FALSE(rig.ports.isPortOpen(PortDirection::Output)) << "connections to the old amplifier closed";

    // An amplifier back from its restart before the settle pause ended never left the port list:
    // the worker reopens the ports itself and reads it again.
    rig.ports.amp.version = 0x0200;
    EXPECT_EQ(rig.codesOfPass(), kSyncCodes);
    EXPECT_EQ(rig.mirror.linkState, LinkState::Connected);
    EXPECT_EQ(rig.mirror.firmwareVersion, 0x0200);
    EXPECT_EQ(rig.ports.openCount[1], 2);
    EXPECT_EQ(rig.firmware.calls, 1);
    EXPECT_EQ(rig.amp.chunks, 512);
}

TEST(FirmwareSync, AnAmplifierBackWithItsOldFirmwareIsNotFlashedAgain) {
    SyncRig rig(0x0109, 0x0200);
    EXPECT_EQ(rig.codesOfPass(), updateCodes(512, true));
    EXPECT_EQ(rig.codesOfPass(), kSyncCodes) << "still 1.9, but no second transfer in this run";
    EXPECT_EQ(rig.mirror.linkState, LinkState::Connected);
    EXPECT_EQ(rig.amp.chunks, 512);
}

TEST(FirmwareSync, OnlyANewerImageIsSent) {
    struct Case {
        uint16_t amplifier, image;
        bool update;
    };
    for (const Case c : {Case{0x0200, 0x0200, false}, Case{0x0200, 0x0109, false}, Case{0x0109, 0x0200, true},
                         Case{0x0109, 0x8000, true}, Case{0x8000, 0x0200, false}}) {
        SyncRig rig(c.amplifier, c.image);
        const std::vector<int> codes = rig.codesOfPass();
        if (c.update) {
            EXPECT_EQ(codes, updateCodes(512, true)) << std::hex << c.amplifier << " <- " << c.image;
        } else {
            EXPECT_EQ(codes, kSyncCodes) << std::hex << c.amplifier << " <- " << c.image;
            EXPECT_EQ(rig.mirror.linkState, LinkState::Connected);
            EXPECT_EQ(rig.mirror.availableFirmware, c.image);
        }
    }
}

TEST(FirmwareSync, FailedTransferRecoversAndIsNotRepeated) {
    SyncRig rig(0x0109, 0x0200);
    rig.ports.amp.transferAcks = 10;
    EXPECT_EQ(rig.codesOfPass(), updateCodes(11, false));
    EXPECT_EQ(rig.mirror.linkState, LinkState::Error);
    EXPECT_EQ(rig.ctx.failures, kFailuresAfterFailedUpdate);

    rig.ports.amp.transferAcks = -1;
    EXPECT_EQ(rig.codesOfPass(), (std::vector<int>{0x0C})) << "link recovery";
    EXPECT_EQ(rig.ctx.failures, 0);
    EXPECT_EQ(rig.mirror.availableFirmware, 0) << "the mirror reset forgets the image";
    EXPECT_EQ(rig.codesOfPass(), kSyncCodes) << "no second transfer";
    EXPECT_EQ(rig.mirror.linkState, LinkState::Connected);
    EXPECT_EQ(rig.firmware.calls, 1);
}

TEST(FirmwareSync, NothingIsSentOnceQuitIsSet) {
    // The editor closed during the transfer (after 4 of 512 chunks), or in the pause after the
    // store: no further chunk, no store and no restart request.
    for (const bool afterStore : {false, true}) {
        SyncRig rig(0x0109, 0x0200);
        rig.clock.onAdvance = [&](Clock::TimePoint) {
            rig.amp.look();
            if (afterStore ? rig.amp.stores == 1 : rig.amp.chunks == 4) rig.ctx.quit = true;
        };
        std::vector<int> expected = updateCodes(afterStore ? 512 : 4, afterStore);
        expected.pop_back();
        EXPECT_EQ(rig.codesOfPass(), expected) << (afterStore ? "after the store" : "after 4 chunks");
    }
}

TEST(FirmwareSync, ClosedOutputSendsNothingButKeepsThePauses) {
    SyncRig rig(0x0109, 0x0200);
    // The amplifier's output goes away while the image downloads.
    long long downloadedAt = -1;
    rig.firmware.during = [&] {
        rig.ports.closePort(PortDirection::Output);
        downloadedAt = rig.clock.elapsedMs();
    };
    EXPECT_EQ(rig.codesOfPass(), (std::vector<int>{0x0B}));
    EXPECT_EQ(rig.clock.elapsedMs() - downloadedAt, kAfterUpdatePauseMs + kRestartSettleMs);
    // The next pass reopens the ports and reads the amplifier instead of staying on "READING...".
    EXPECT_EQ(rig.codesOfPass(), kSyncCodes);
    EXPECT_EQ(rig.mirror.linkState, LinkState::Connected);
    EXPECT_EQ(rig.amp.chunks, 0);
}

}  // namespace
}  // namespace halvard
