#include "device/firmware_update.hpp"

#include <gtest/gtest.h>

#include "../device/fake_device.hpp"
#include "device/clock.hpp"

namespace halvard {
namespace {

using test::Bytes;

// A recognisable image of the given version.
FirmwareImage makeImage(uint16_t version) {
    FirmwareImage image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 256);
    image[kFirmwareImageBytes - 3] = static_cast<uint8_t>(version >> 8);
    image[kFirmwareImageBytes - 4] = static_cast<uint8_t>(version & 0xFF);
    return image;
}

// The amplifier's side of a transfer, watching what the editor sends after every virtual step:
// reassembles the chunks, acknowledges them (up to a limit) and the store, and notes the
// percentage the panel showed when each acknowledgement went out.
struct TransferWatcher {
    TransferWatcher(test::FakePorts& p, DeviceMirror& m) : ports(p), mirror(m) {}
    test::FakePorts& ports;
    DeviceMirror& mirror;
    int acknowledgeChunks = 1 << 30;
    bool acknowledgeStore = true;

    size_t seen = 0;
    int chunks = 0;
    int stores = 0;
    Bytes lastStore;
    std::vector<int32_t> progressAtAck;  // per chunk, then the store
    FirmwareImage received{};
    bool offsetsInOrder = true;

    void look() {
        for (; seen < ports.sent.size(); ++seen) {
            const Bytes& m = ports.sent[seen].bytes;
            if (m.size() == kFirmwareChunkMessageBytes && m[2] == kCodeFirmwareChunk) {
                size_t offset = 0;
                for (int i = 3; i < 9; ++i) offset = offset << 4 | m[static_cast<size_t>(i)];
                offsetsInOrder = offsetsInOrder && offset == static_cast<size_t>(chunks) * 256;
                for (size_t i = 0; i < 256 && offset + i < received.size(); ++i)
                    received[offset + i] = static_cast<uint8_t>(m[9 + 2 * i] << 4 | m[10 + 2 * i]);
                if (++chunks <= acknowledgeChunks) acknowledge();
            } else if (m.size() > 2 && m[2] == kCodeStore) {
                ++stores;
                lastStore = m;
                if (acknowledgeStore) acknowledge();
            }
        }
    }
    void acknowledge() {
        progressAtAck.push_back(mirror.progress);
        ports.deliver({kSysexStart, 0x00, kCodeChunkAck, 0x00, kSysexEnd});
    }
};

struct FirmwareTransfer : ::testing::Test {
    VirtualClock clock;
    test::FakePorts ports{clock};
    DeviceMirror mirror;
    LinkContext ctx;
    TransferWatcher amp{ports, mirror};
    FirmwareImage image = makeImage(0x0200);

    void SetUp() override {
        ctx.ui = &mirror;
        ctx.clock = &clock;
        ctx.ports = &ports;
        ports.plugAmp();
        ports.openPort(PortDirection::Input, 2, "midi Input");
        ports.openPort(PortDirection::Output, 1, "midi Output");
        clock.onAdvance = [this](Clock::TimePoint) { amp.look(); };
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

    ASSERT_EQ(amp.progressAtAck.size(), 513u);
    for (int k : {1, 5, 6, 10, 128, 507, 511}) {
        EXPECT_EQ(amp.progressAtAck[static_cast<size_t>(k - 1)], 100 * k / 512) << "after chunk " << k;
    }
    EXPECT_EQ(amp.progressAtAck[511], 99) << "the 512th chunk sets no value";
    EXPECT_EQ(amp.progressAtAck[512], 99) << "100 only once the store is acknowledged";
    EXPECT_EQ(mirror.progress, 100);
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
    EXPECT_EQ(ctx.failures, 0);
}

TEST_F(FirmwareTransfer, MissingAcknowledgementEndsTransferWithError) {
    amp.acknowledgeChunks = 10;
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Timeout);
    EXPECT_EQ(amp.chunks, 11) << "nothing is sent after the unanswered chunk";
    EXPECT_EQ(amp.stores, 0);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 2);
    EXPECT_EQ(mirror.progress, 100 * 11 / 512);

    // An unanswered store is a failure too; progress never reaches 100.
    amp.chunks = 0;
    amp.acknowledgeChunks = 512;
    amp.acknowledgeStore = false;
    mirror.linkState = LinkState::Busy;
    EXPECT_EQ(sendFirmware(ctx, image), ReplyResult::Timeout);
    EXPECT_EQ(amp.stores, 1);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(mirror.progress, 99);
    EXPECT_EQ(ctx.failures, 3);
}

TEST_F(FirmwareTransfer, QuitOrClosedPortReportsNothing) {
    amp.acknowledgeChunks = 3;
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

}  // namespace
}  // namespace halvard
