// IR transfers against the fake amplifier in virtual time: chunk and store layouts, the progress
// steps, the outcomes, and the IR commands as the worker dispatches them.

#include "device/ir_transfer/ir_transfer.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "device/ir_transfer/ir_commands.hpp"
#include "device/link/clock.hpp"
#include "device/link/file_dialogs.hpp"
#include "device/protocol/exchanges.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/wav_import.hpp"
#include "test_files.hpp"

namespace halvard {
namespace {

using test::Bytes;

// The 16-bit value a message carries as four nibbles from byte at.
int nibbles16(const Bytes& m, size_t at) {
    return m[at] << 12 | m[at + 1] << 8 | m[at + 2] << 4 | m[at + 3];
}

// The 256 data bytes of a chunk, put back together from their nibble pairs.
Bytes chunkData(const Bytes& m) {
    Bytes data;
    for (size_t j = 0; j < kChunkDataBytes; ++j)
        data.push_back(static_cast<uint8_t>(m[7 + 2 * j] << 4 | m[8 + 2 * j]));
    return data;
}

Bytes testImage(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

// Answers the chosen paths in order; an empty queue answers "".
class ScriptedDialogs final : public FileDialogs {
public:
    explicit ScriptedDialogs(const DeviceMirror& mirror) : mirror_(mirror) {}
    std::deque<std::string> answers;
    std::vector<DialogMode> modes;
    std::vector<LinkState> statesWhileOpen;

    std::string showFileDialog(DialogMode mode) override {
        modes.push_back(mode);
        statesWhileOpen.push_back(mirror_.linkState);
        if (answers.empty()) return {};
        std::string path = answers.front();
        answers.pop_front();
        return path;
    }

private:
    const DeviceMirror& mirror_;
};

struct IrTransfer : ::testing::Test {
    VirtualClock clock;
    test::FakePorts ports{clock};
    DeviceMirror mirror;
    ScriptedDialogs dialogs{mirror};
    LinkContext ctx;
    std::vector<int32_t> progressAtRepaint;
    std::vector<LinkState> stateAtRepaint;
    std::unique_ptr<DeviceWorker> worker;

    // The fake amplifier acknowledges data chunks and stores while ports.amp.transferAcks is not 0.
    // quitAfterSent sets quit once that many messages went out.
    size_t quitAfterSent = 0;

    void SetUp() override {
        ctx.ui = &mirror;
        ctx.clock = &clock;
        ctx.ports = &ports;
        ctx.dialogs = &dialogs;
        ctx.requestRepaint = [this] {
            progressAtRepaint.push_back(mirror.progress);
            stateAtRepaint.push_back(mirror.linkState);
        };
        clock.onAdvance = [this](Clock::TimePoint) {
            if (quitAfterSent > 0 && ports.sent.size() >= quitAfterSent) ctx.quit = true;
        };
        worker = std::make_unique<DeviceWorker>(ctx);
    }

    // Connected through the worker's own sync, then the record of what was sent starts empty.
    void connect() {
        ports.plugAmp();
        worker->runPass();
        ASSERT_EQ(mirror.linkState, LinkState::Connected);
        ports.sent.clear();
        progressAtRepaint.clear();
        stateAtRepaint.clear();
    }

    std::vector<Bytes> sentWithCode(uint8_t code) const {
        std::vector<Bytes> out;
        for (const auto& s : ports.sent)
            if (s.bytes[2] == code) out.push_back(s.bytes);
        return out;
    }

    // The image as the amplifier would reassemble it from the chunks, cut to the stored size.
    Bytes reassembled() const {
        Bytes image;
        for (const Bytes& chunk : sentWithCode(kCodeIrChunk)) {
            const Bytes data = chunkData(chunk);
            image.resize(static_cast<size_t>(nibbles16(chunk, 3)));
            image.insert(image.end(), data.begin(), data.end());
        }
        const auto stores = sentWithCode(kCodeStore);
        if (!stores.empty()) image.resize(static_cast<size_t>(nibbles16(stores.back(), 4)));
        return image;
    }
};

TEST_F(IrTransfer, ChunkLayoutsAndStoreForEachImageSize) {
    struct Case {
        size_t size;
        size_t chunks;
        std::array<uint8_t, 4> lastOffset;
        std::array<uint8_t, 4> sizeNibbles;
    };
    // An imported IR of 4096 samples, a factory IR, and the smallest one-chunk image.
    const Case cases[] = {{16428, 65, {0x04, 0x00, 0x00, 0x00}, {0x04, 0x00, 0x02, 0x0C}},
                          {39980, 157, {0x09, 0x0C, 0x00, 0x00}, {0x09, 0x0C, 0x02, 0x0C}},
                          {256, 1, {0, 0, 0, 0}, {0x00, 0x01, 0x00, 0x00}}};
    connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ports.sent.clear();
        const Bytes image = testImage(c.size);
        ASSERT_EQ(sendIrImage(ctx, image, 2, "ROOM MIC"), IrTransferResult::Stored);

        const auto chunks = sentWithCode(kCodeIrChunk);
        ASSERT_EQ(chunks.size(), c.chunks);
        for (size_t k = 0; k < chunks.size(); ++k) {
            ASSERT_EQ(chunks[k].size(), kIrChunkMessageBytes);
            EXPECT_EQ(chunks[k][0], 0xF0);
            EXPECT_EQ(chunks[k][1], 0x00);
            EXPECT_EQ(chunks[k][519], 0xF7);
            EXPECT_EQ(nibbles16(chunks[k], 3), static_cast<int>(k * 256)) << "chunk " << k;
            for (size_t b = 3; b < 519; ++b) ASSERT_LT(chunks[k][b], 0x10) << "chunk " << k << " byte " << b;
        }
        EXPECT_TRUE(std::equal(c.lastOffset.begin(), c.lastOffset.end(), chunks.back().begin() + 3));
        const size_t tail = c.size - (c.chunks - 1) * 256;
        EXPECT_TRUE(std::all_of(chunks.back().begin() + 7 + 2 * static_cast<long>(tail),
                                chunks.back().end() - 1, [](uint8_t b) { return b == 0; }))
            << "past the image's end only 0x00 pairs";
        EXPECT_EQ(reassembled(), image);

        const auto stores = sentWithCode(kCodeStore);
        ASSERT_EQ(stores.size(), 1u);
        ASSERT_EQ(ports.sent.back().bytes, stores[0]) << "the store closes the transfer";
        Bytes store = {0xF0,
                       0x00,
                       0x09,
                       0x02,
                       c.sizeNibbles[0],
                       c.sizeNibbles[1],
                       c.sizeNibbles[2],
                       c.sizeNibbles[3],
                       'R',
                       'O',
                       'O',
                       'M',
                       ' ',
                       'M',
                       'I',
                       'C'};
        store.resize(72, 0x00);
        store.push_back(0xF7);
        EXPECT_EQ(stores[0], store);
    }
}

TEST_F(IrTransfer, ProgressClimbsPerChunkAndReaches100OnlyWithTheStoreAck) {
    connect();
    mirror.linkState = LinkState::Busy;
    mirror.progress = 42;
    ctx.failures = 1;
    ASSERT_EQ(sendIrImage(ctx, testImage(16428), 0, "X"), IrTransferResult::Stored);
    ASSERT_EQ(progressAtRepaint.size(), 65u) << "64 chunk steps (none after the last chunk), then 100";
    EXPECT_EQ(progressAtRepaint.front(), 1) << "100 - 98.44";
    EXPECT_EQ(progressAtRepaint[63], 99) << "100 - 0.27";
    EXPECT_EQ(progressAtRepaint.back(), 100);
    EXPECT_TRUE(std::is_sorted(progressAtRepaint.begin(), progressAtRepaint.end()));
    EXPECT_EQ(mirror.linkState, LinkState::Busy) << "Busy until the next full read";
    EXPECT_EQ(ctx.failures, 0);

    // One chunk: nothing between 42 and the final 100.
    progressAtRepaint.clear();
    mirror.progress = 42;
    const auto start = clock.elapsedMs();
    ASSERT_EQ(sendIrImage(ctx, testImage(256), 0, "X"), IrTransferResult::Stored);
    EXPECT_EQ(progressAtRepaint, std::vector<int32_t>{100});
    EXPECT_GE(clock.elapsedMs() - start, kAfterIrStoreAckPauseMs)
        << "a pause after the store's acknowledgement";

    // The single- and double-precision steps, where they decide the value.
    EXPECT_EQ(irTransferProgress(16172, 16428), 1);
    EXPECT_EQ(irTransferProgress(44, 16428), 99);
    EXPECT_EQ(irTransferProgress(39724, 39980), 0);
    EXPECT_EQ(irTransferProgress(300, 39980), 99);
    EXPECT_EQ(irTransferProgress(384, 640), 39) << "not 40, as in double precision";
    EXPECT_EQ(irTransferProgress(768, 2560), 69) << "not 70, as in double precision or all in single";
}

TEST_F(IrTransfer, MissingAcknowledgementFailsTheTransfer) {
    connect();
    mirror.linkState = LinkState::Busy;
    ports.amp.transferAcks = 2;  // the third chunk is not acknowledged
    ctx.failures = 0;
    EXPECT_EQ(sendIrImage(ctx, testImage(16428), 1, "X"), IrTransferResult::Failed);
    EXPECT_EQ(ports.sentCodes(), (std::vector<int>{0x08, 0x08, 0x08})) << "no further chunk, no store";
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 1);
    EXPECT_NE(mirror.progress, 100);

    // Every chunk acknowledged, the store not.
    ports.sent.clear();
    mirror.linkState = LinkState::Busy;
    ports.amp.transferAcks = 65;
    EXPECT_EQ(sendIrImage(ctx, testImage(16428), 1, "X"), IrTransferResult::Failed);
    EXPECT_EQ(sentWithCode(kCodeStore).size(), 1u);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 2);
    EXPECT_NE(mirror.progress, 100);

    // An acknowledgement decoded before a message was sent does not answer it.
    ports.sent.clear();
    ports.amp.transferAcks = 0;
    ctx.reply = kCodeChunkAck;
    EXPECT_EQ(sendIrImage(ctx, testImage(256), 1, "X"), IrTransferResult::Failed);
    EXPECT_EQ(ports.sentCodes(), (std::vector<int>{0x08}));
}

TEST_F(IrTransfer, QuitDuringAWaitAbandonsWithoutChangingAnything) {
    connect();
    mirror.linkState = LinkState::Busy;
    ports.amp.transferAcks = 3;
    quitAfterSent = 4;  // the quit comes while the fourth chunk waits for its answer
    ctx.failures = 1;
    EXPECT_EQ(sendIrImage(ctx, testImage(16428), 1, "X"), IrTransferResult::Abandoned);
    EXPECT_EQ(ports.sent.size(), 4u);
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
    EXPECT_EQ(mirror.progress, irTransferProgress(16428 - 4 * 256, 16428));
    EXPECT_EQ(ctx.failures, 1);
}

TEST_F(IrTransfer, RefusedTransfersSendNothing) {
    connect();
    EXPECT_EQ(sendIrImage(ctx, testImage(256), -1, "X"), IrTransferResult::NotSent);
    EXPECT_EQ(sendIrImage(ctx, testImage(256), 6, "X"), IrTransferResult::NotSent);
    EXPECT_EQ(sendIrImage(ctx, {}, 0, "X"), IrTransferResult::NotSent);
    EXPECT_EQ(sendIrImage(ctx, testImage(65536), 0, "X"), IrTransferResult::NotSent)
        << "the size would not fit the store's 16 bits";
    EXPECT_TRUE(ports.sent.empty());
}

// ---- the commands, as the worker runs them --------------------------------------------------

TEST_F(IrTransfer, UploadFactoryIrStoresTheBrowsedEntryIntoTheOpenSlot) {
    connect();
    mirror.irPanelSlot = 3;  // user slot 2
    mirror.factoryIrIndex = 6;
    mirror.postCommand(CommandKind::UploadFactoryIr);
    worker->runPass();

    const FactoryIrEntry& entry = factoryIrCatalogue()[6];
    const auto expected = buildIrWavImage(*entry.image);
    ASSERT_TRUE(expected);
    EXPECT_EQ(sentWithCode(kCodeIrChunk).size(), 157u);
    EXPECT_EQ(reassembled(), *expected);
    const auto stores = sentWithCode(kCodeStore);
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(stores[0][3], 2);
    const IrName name = irNameFromLabel(entry.name);
    EXPECT_TRUE(std::equal(name.field.begin(), name.field.end(), stores[0].begin() + 8));
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
    EXPECT_EQ(mirror.progress, 100);
    ASSERT_FALSE(stateAtRepaint.empty());
    EXPECT_EQ(stateAtRepaint.front(), LinkState::Busy) << "Busy is shown before the transfer's first step";
    EXPECT_EQ(mirror.command.load(), Command{});
}

TEST_F(IrTransfer, UploadFactoryIrWithNoPanelOpenSendsNothing) {
    connect();
    for (int panel : {0, 7, -1}) {
        mirror.irPanelSlot = panel;
        mirror.postCommand(CommandKind::UploadFactoryIr);
        worker->runPass();
        EXPECT_TRUE(ports.sent.empty()) << "panel " << panel;
        EXPECT_EQ(mirror.linkState, LinkState::Connected) << "panel " << panel;
    }
}

TEST_F(IrTransfer, ClosedOutputSendsNothingAndLeavesBusy) {
    connect();
    ports.closePort(PortDirection::Output);
    mirror.irPanelSlot = 1;
    runUploadFactoryIrCommand(ctx);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(mirror.linkState, LinkState::Busy);

    test::TempDir dir;
    const std::string wav = dir.file("ir.wav");
    test::writeBytes(wav, *buildIrWavImage(std::vector<float>(100, 0.5f)));
    mirror.linkState = LinkState::Connected;
    dialogs.answers = {wav};
    runImportIrCommand(ctx, 0);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(mirror.linkState, LinkState::Busy);
}

TEST_F(IrTransfer, ImportIrAsksForAWaveFileAndStoresItInTheCommandsSlot) {
    test::TempDir dir;
    std::vector<float> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.9f / static_cast<float>(1 + i);
    const std::string path = dir.file("Room Mic.wav");
    ASSERT_TRUE(test::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, samples));
    const IrImport expected = prepareIrFromWav(path);
    ASSERT_TRUE(expected.ok());

    connect();
    dialogs.answers = {path};
    mirror.postCommand(importIrCommand(4));
    worker->runPass();

    EXPECT_EQ(dialogs.modes, std::vector<DialogMode>{DialogMode::WaveFile});
    EXPECT_EQ(dialogs.statesWhileOpen, std::vector<LinkState>{LinkState::Busy})
        << "the panel is locked meanwhile";
    const auto stores = sentWithCode(kCodeStore);
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(stores[0][3], 4);
    EXPECT_EQ(nibbles16(stores[0], 4), 4044);
    EXPECT_EQ(std::string(stores[0].begin() + 8, stores[0].begin() + 17), std::string("ROOM MIC\0", 9));
    EXPECT_EQ(reassembled(), expected.image);
    EXPECT_EQ(mirror.progress, 100);

    // Cancelled, or a file that is no WAV: back to Connected, nothing sent.
    const std::string junk = dir.file("junk.wav");
    test::writeBytes(junk, Bytes(100, 0x55));
    for (const std::string& answer : {std::string(), junk, dir.path().string()}) {
        ports.sent.clear();
        dialogs.answers = {answer};
        mirror.linkState = LinkState::Connected;
        mirror.postCommand(importIrCommand(0));
        worker->runPass();
        EXPECT_TRUE(ports.sent.empty()) << '"' << answer << '"';
        EXPECT_EQ(mirror.linkState, LinkState::Connected) << '"' << answer << '"';
    }
}

TEST_F(IrTransfer, ExtractAllWritesTheFactoryIrsIntoTheChosenFolder) {
    test::TempDir dir;
    connect();
    dialogs.answers = {dir.path().string()};
    mirror.postCommand(CommandKind::ExtractAll);
    worker->runPass();

    EXPECT_EQ(dialogs.modes, std::vector<DialogMode>{DialogMode::Folder});
    EXPECT_EQ(dialogs.statesWhileOpen, std::vector<LinkState>{LinkState::Connected})
        << "the panel stays live";
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_TRUE(ports.sent.empty()) << "nothing goes to the amplifier";
    for (const FactoryIrEntry& entry : factoryIrCatalogue()) {
        const std::string file = dir.file(std::string(entry.name) + ".wav");
        EXPECT_EQ(test::readBytes(file), *buildIrWavImage(*entry.image)) << file;
    }

    // Cancelled: nothing written.
    for (const auto& file : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(file);
    mirror.postCommand(CommandKind::ExtractAll);
    worker->runPass();
    EXPECT_EQ(dialogs.modes.size(), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(IrTransfer, NoDialogsMeansEveryDialogIsCancelled) {
    connect();
    ctx.dialogs = nullptr;
    mirror.postCommand(importIrCommand(2));
    worker->runPass();
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
}

}  // namespace
}  // namespace halvard
