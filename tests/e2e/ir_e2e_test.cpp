// IR transfers end to end: the device worker on real JACK ports against the amplifier emulator,
// with the file and folder dialogs answered by a script (the desktop's dialog is a seam here).
// An import and a factory store arrive chunk for chunk and are stored byte for byte; audition
// while browsing; a chunk left unacknowledged; extraction into a folder.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <filesystem>
#include <mutex>

#include "device/link/file_dialogs.hpp"
#include "device/protocol/sysex.hpp"
#include "editor_worker.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/wav_import.hpp"
#include "test_files.hpp"

namespace halvard::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

// What the worker shows at each repaint, recorded on its own thread (failures is its own field).
class IrE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(ensureJackServer(&why)) << why;
        std::filesystem::remove_all(dump_);
    }

    // Starts the emulator (dumping stored IRs) and the worker, and waits for the first full read.
    void connect(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--dump-dir", dump_.string()});
        amp_ = std::make_unique<EmulatorProcess>(args);
        ASSERT_TRUE(amp_->ready()) << amp_->transcript();
        editor_ = std::make_unique<EditorWorker>(nullptr, &dialogs_);
        ASSERT_TRUE(editor_->connected()) << amp_->transcript();
        amp_->command("clear");
    }

    // The stored image of a slot as the emulator dumped it.
    Bytes dumped(int slot) {
        const auto ir = EmulatorProcess::fields(amp_->command("ir " + std::to_string(slot)));
        return ir.count("file") ? test::readBytes(ir.at("file")) : Bytes{};
    }
    int stores(int slot) {
        const auto ir = EmulatorProcess::fields(amp_->command("ir " + std::to_string(slot)));
        return ir.count("stores") ? std::stoi(ir.at("stores")) : 0;
    }
    bool storedAndReadBack(int slot, int count, std::chrono::milliseconds limit = 30s) {
        return EmulatorProcess::waitFor(
            [&] { return stores(slot) == count && editor_->mirror.linkState == LinkState::Connected; },
            limit);
    }

    // Every message of a transfer of image into slot under name, as the editor must send them.
    static std::vector<Bytes> transfer(const Bytes& image, int slot, std::string_view name) {
        std::vector<Bytes> out;
        for (size_t o = 0; o < image.size(); o += kChunkDataBytes) {
            Bytes m(kIrChunkMessageBytes);
            const size_t n = std::min(kChunkDataBytes, image.size() - o);
            m.resize(
                buildIrChunk(m, static_cast<uint32_t>(o), std::span<const uint8_t>(image).subspan(o, n)));
            out.push_back(m);
        }
        Bytes store(kStoreMessageBytes);
        buildStore(store, static_cast<uint8_t>(slot), static_cast<uint16_t>(image.size()), name);
        out.push_back(store);
        return out;
    }

    std::filesystem::path dump_ = std::filesystem::path(::testing::TempDir()) / "ir-e2e-dump";
    ScriptedDialogs dialogs_;
    std::unique_ptr<EmulatorProcess> amp_;
    std::unique_ptr<EditorWorker> editor_;
};

TEST_F(IrE2e, ImportIntoSlot4ArrivesChunkForChunkAndIsStoredByteForByte) {
    test::TempDir dir;
    // A 44.1 kHz 24-bit stereo file, so that the conversion trims, resamples and drops a channel.
    std::vector<float> frames;
    for (int i = 0; i < 3000; ++i) {
        const float s =
            i < 20 ? 0.0f : 0.8f * std::exp(-0.002f * static_cast<float>(i)) * ((i % 7) - 3) / 3.0f;
        frames.insert(frames.end(), {s, -s});
    }
    const std::string path = dir.file("Room Mic.wav");
    ASSERT_TRUE(test::writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, frames));
    const IrImport expected = prepareIrFromWav(path);
    ASSERT_TRUE(expected.ok());

    connect();
    dialogs_.answer(path);
    editor_->mirror.postCommand(importIrCommand(4));
    ASSERT_TRUE(storedAndReadBack(4, 1)) << amp_->transcript();

    const std::vector<Bytes> sent = transfer(expected.image, 4, "ROOM MIC");
    std::vector<Bytes> received = amp_->messages();
    ASSERT_GE(received.size(), sent.size());
    received.resize(sent.size());  // the full read after the amplifier's change notice follows
    EXPECT_EQ(received, sent);
    EXPECT_EQ(dumped(4), expected.image);
    EXPECT_EQ(editor_->mirror.slotName(4).view(), "ROOM MIC") << "read back from the amplifier";
    EXPECT_EQ(editor_->mirror.progress, kProgressNone);
}

TEST_F(IrE2e, SelectStoresTheBrowsedFactoryIrAndAuditionStoresEachEntryBrowsedTo) {
    connect({"--delay", "5"});  // a slower amplifier: the browsing below happens during a transfer
    DeviceMirror& ui = editor_->mirror;
    const FactoryIrCatalogue& catalogue = factoryIrCatalogue();

    ui.irPanelSlot = 2;  // user slot 1
    ui.factoryIrIndex = 12;
    ui.postCommand(CommandKind::UploadFactoryIr);  // SELECT
    ASSERT_TRUE(storedAndReadBack(1, 1)) << amp_->transcript();
    EXPECT_EQ(amp_->received(0x08), 157);
    EXPECT_EQ(dumped(1), *buildIrWavImage(*catalogue[12].image));
    EXPECT_EQ(ui.slotName(1).view(), irNameFromLabel(catalogue[12].name).text());

    // Audition on, the panel of slot 5 open: each step posts the store; steps made while a transfer
    // runs collapse into the last, which is stored after it.
    amp_->command("clear");
    ui.irPanelSlot = 6;
    ui.auditionOn = true;
    ui.factoryIrIndex = 3;
    ui.postCommand(CommandKind::UploadFactoryIr);
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x08) > 0; }));
    for (int index : {4, 5}) {
        ui.factoryIrIndex = index;
        ui.postCommand(CommandKind::UploadFactoryIr);
    }
    ASSERT_TRUE(storedAndReadBack(5, 2)) << amp_->transcript();
    std::vector<Bytes> storesSeen;
    for (const Bytes& m : amp_->messages())
        if (m[2] == kCodeStore) storesSeen.push_back(m);
    ASSERT_EQ(storesSeen.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        const IrName name = irNameFromLabel(catalogue[k == 0 ? 3 : 5].name);
        EXPECT_TRUE(std::equal(name.field.begin(), name.field.end(), storesSeen[k].begin() + 8))
            << "store " << k;
    }
    EXPECT_EQ(dumped(5), *buildIrWavImage(*catalogue[5].image));
}

TEST_F(IrE2e, UnacknowledgedChunkEndsInErrorWithoutAStoreAndTheLinkRecovers) {
    test::TempDir dir;
    const std::string path = dir.file("cab.wav");
    test::writeBytes(path, *buildIrWavImage(std::vector<float>(2000, 0.25f)));
    connect({"--stop-ack-after", "2"});
    const size_t before = editor_->repaints();

    dialogs_.answer(path);
    editor_->mirror.postCommand(importIrCommand(0));
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x08) >= 3; })) << amp_->transcript();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] {
        const auto shown = editor_->shown();
        return std::any_of(shown.begin() + static_cast<long>(before), shown.end(),
                           [](const Shown& s) { return s.state == LinkState::Error; });
    })) << amp_->transcript();
    amp_->command("fault none");
    ASSERT_TRUE(editor_->connected()) << "the link recovers and the amplifier is read again";

    EXPECT_EQ(amp_->received(0x08), 3) << "no chunk after the unacknowledged third";
    EXPECT_EQ(amp_->received(0x09), 0) << "no store";
    const auto shown = editor_->shown();
    const auto error = std::find_if(shown.begin() + static_cast<long>(before), shown.end(),
                                    [](const Shown& s) { return s.state == LinkState::Error; });
    ASSERT_NE(error + 1, shown.end());
    EXPECT_EQ((error + 1)->failures, error->failures + 1) << "one more failure";
    EXPECT_NE(error->progress, 100);
}

TEST_F(IrE2e, ExtractAllWritesFifteenFilesAndStopsAtOneThatCannotBeCreated) {
    connect();
    const FactoryIrCatalogue& catalogue = factoryIrCatalogue();
    const auto extractInto = [&](const std::filesystem::path& folder) {
        const size_t repaints = editor_->repaints();
        const int asked = dialogs_.asked();
        dialogs_.answer(folder.string());
        editor_->mirror.postCommand(CommandKind::ExtractAll);
        // The closing repaint follows the extraction.
        return EmulatorProcess::waitFor(
            [&] { return dialogs_.asked() > asked && editor_->repaints() > repaints; });
    };

    test::TempDir dir;
    ASSERT_TRUE(extractInto(dir.path()));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++files;
        EXPECT_EQ(entry.file_size(), 39980u) << entry.path();
    }
    EXPECT_EQ(files, 15);
    for (const FactoryIrEntry& entry : catalogue)
        EXPECT_EQ(test::readBytes(dir.file(std::string(entry.name) + ".wav")),
                  *buildIrWavImage(*entry.image));
    EXPECT_EQ(amp_->receivedTotal(), 0) << "nothing goes to the amplifier";

    // Entry 5's file cannot be created (a folder has its name): 0..4 are written, 5..14 are not.
    test::TempDir blocked;
    std::filesystem::create_directory(blocked.file(std::string(catalogue[5].name) + ".wav"));
    ASSERT_TRUE(extractInto(blocked.path()));
    for (int i = 0; i < kFactoryIrCount; ++i) {
        const std::filesystem::path file =
            blocked.file(std::string(catalogue[static_cast<size_t>(i)].name) + ".wav");
        if (i < 5) {
            EXPECT_EQ(std::filesystem::file_size(file), 39980u) << i;
        } else if (i > 5) {
            EXPECT_FALSE(std::filesystem::exists(file)) << i;
        }
    }
    EXPECT_EQ(editor_->mirror.linkState, LinkState::Connected) << "the status does not change";
}

}  // namespace
}  // namespace halvard::e2e
