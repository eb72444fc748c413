// halvard-editor.exe under Wine on the virtual display, against the amplifier emulator through the
// Wine MIDI driver and bridge, driven through its window as a user would (xdotool clicks, probes of
// its pixels): the sync and an edit byte for byte, a preset store and change notices, IR stores
// from a WAV file and from the factory set, a firmware update from a loopback server, unplugging,
// a silent amplifier, closing during a transfer; and what Windows users meet: the port held by
// another program, the USB cable pulled during a transfer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "device/firmware/firmware_download.hpp"
#include "device/librarian/program_file.hpp"
#include "device/protocol/program_records.hpp"
#include "editor_messages.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/wav_import.hpp"
#include "loopback_http_server.hpp"
#include "panel_listing.hpp"
#include "program_library/program_library.hpp"
#include "test_files.hpp"
#include "util/hex.hpp"
#include "wine_session.hpp"

namespace halvard::e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using emulator::testing::syncConversation;
using emulator::testing::sysex;
using testing::Millis;
using testing::XSession;

// The emulator's program 0 and globals (as in the Linux end-to-end tests): program 0 uses the lead
// channel; MIDI channel 5, reverb tails on, mono on, IR slot 4.
constexpr const char* kRecord0 = "01210110020101102331";
constexpr const char* kGlobals = "4509";

// The settings write that turns the lead channel's reverb on in program 0 (a click on REVERB).
const Bytes kReverbOnWrite{0xF0, 0x00, 0x01, 0x00, 0x45, 0x01, 0x21, 0x01, 0x11,
                           0x02, 0x01, 0x01, 0x10, 0x23, 0x31, 0x09, 0xF7};

// Colours the probes look for (Direct2D under Wine draws them within a step or two).
constexpr uint32_t kPanelUnveiled = 0x141416;  // the left column with no veil over it
constexpr uint32_t kPanelVeiled = 0x070708;
constexpr uint32_t kBoxLit = 0xbebebe;  // a lit top-row box (the connection box while connected)
constexpr uint32_t kBoxDark = 0x141416;
constexpr uint32_t kKnobOn = 0xf0f0f0;  // a switch's knob when on
constexpr uint32_t kBottomBar = 0xddcfbc;

bool near(std::optional<uint32_t> a, uint32_t b, int tolerance = 3) {
    if (!a) return false;
    for (const int shift : {16, 8, 0}) {
        if (std::abs(static_cast<int>((*a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)) >
            tolerance)
            return false;
    }
    return true;
}

class WindowsEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (the display fixture)";
        ASSERT_TRUE(x_.connected());
        ASSERT_TRUE(bridge_.connected()) << "no Wine MIDI bridge to talk to (the wine-midi fixture)";
        ASSERT_EQ(bridge_.command("reset"), "ok reset");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // Every case starts at the panel's own size: no zoom kept from another case in the prefix.
        std::error_code ec;
        for (const auto& user :
             fs::directory_iterator(fs::path(environment("HALVARD_WINEPREFIX")) / "drive_c" / "users", ec))
            fs::remove(user.path() / "AppData" / "Roaming" / "Halvard Editor" / "settings", ec);
    }

    void TearDown() override {
        if (editor_ && window_) closeEditor();
        editor_.reset();
    }

    // The emulator with the test's program 0, globals and slot names, its ports open.
    void startEmulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--firmware", "1.9",           "--restart-away", "300",
                                         "--dump-dir", dump().string(), "--slot-name",    "2=2_CLEAN"};
        args.insert(args.end(), extra.begin(), extra.end());
        amp_ = std::make_unique<EmulatorProcess>(args);
        ASSERT_TRUE(amp_->ready()) << amp_->transcript();
        ASSERT_EQ(amp_->command(std::string("set-record 0 ") + kRecord0).substr(0, 2), "ok");
        ASSERT_EQ(amp_->command(std::string("set-globals ") + kGlobals).substr(0, 2), "ok");
    }

    // The editor (or another build of it) under Wine, its window found. Its WinMM devices are the
    // JACK ports there are now: Wine counts them once, as the program starts.
    void startEditor(const std::string& program = environment("HALVARD_WINDOWS_EDITOR"),
                     const std::vector<std::string>& env = {}) {
        editor_ = std::make_unique<WineProgram>(program, std::vector<std::string>{}, env);
        ASSERT_TRUE(editor_->started());
        window_ = x_.findWindow("Halvard Editor", Millis(60000));
        ASSERT_NE(window_, 0u) << "no editor window\n" << editor_->transcript();
        std::tie(width_, height_) = x_.windowSize(window_);
    }

    void startConnected() {
        startEmulator();
        startEditor();
        ASSERT_TRUE(showsConnected()) << transcript();
    }

    // The window's pixel at (x, y) of its client area (the X window Wine makes for it).
    std::optional<uint32_t> at(int x, int y) { return x_.pixel(window_, x, y); }
    bool waitFor(std::function<bool()> shown, std::chrono::milliseconds limit = 30s) {
        return EmulatorProcess::waitFor(shown, limit);
    }
    // Connected and idle: the veil is gone and the connection box lit.
    bool showsConnected(std::chrono::milliseconds limit = 30s) {
        return waitFor([&] { return near(at(125, 400), kPanelUnveiled) && near(at(263, 20), kBoxLit); },
                       limit);
    }
    // No amplifier: the veil over the panel and the connection box dark.
    bool showsNoDevice(std::chrono::milliseconds limit = 30s) {
        return waitFor([&] { return near(at(125, 400), kPanelVeiled) && near(at(263, 20), kBoxDark); },
                       limit);
    }
    // Whether the status line (bottom bar, left) holds any text.
    bool statusLineHasText() {
        for (int y = height_ - 19; y < height_ - 2; ++y)
            for (int x = 10; x < 290; x += 2)
                if (!near(at(x, y), kBottomBar, 24)) return true;
        return false;
    }
    // The columns the connection box's light text spans.
    std::pair<int, int> connectionBoxText() {
        std::pair<int, int> span{width_, 0};
        for (int x = 262; x < 350; ++x)
            for (int y = 12; y < 30; ++y)
                if (((at(x, y).value_or(0) >> 8) & 0xff) > 0x80)
                    span = {std::min(span.first, x), std::max(span.second, x)};
        return span;
    }

    // Slot 1's folder icon opens Windows' file dialog; the path is typed into it.
    void importThroughDialog(const std::string& wav) {
        click(215, 276);
        const unsigned long dialog = x_.findWindow("Import IR", Millis(30000));
        ASSERT_NE(dialog, 0u) << "no file dialog" << transcript();
        std::this_thread::sleep_for(1s);
        const auto [w, h] = x_.windowSize(dialog);
        ASSERT_TRUE(testing::xdotool("mousemove --window " + std::to_string(dialog) + " " +
                                     std::to_string(w / 2 + 50) + " " + std::to_string(h - 44) + " click 1"));
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(testing::xdotool("type --delay 20 '" + windowsPath(wav) + "'"));
        ASSERT_TRUE(testing::xdotool("key Return"));
    }

    void click(int x, int y) {
        ASSERT_TRUE(testing::xdotool("mousemove --window " + std::to_string(window_) + " " +
                                     std::to_string(x) + " " + std::to_string(y) + " click 1"));
        testing::xdotool("mousemove 2000 1800");  // away again, so that no hover stays lit
    }
    int switchRowLeft() const { return (width_ - 964) / 2; }
    void clickReverb() { click(switchRowLeft() + 510, 61); }
    void clickStorePreset() { click(125, 114); }
    // Waits for the panel's SELECT button to be drawn: a click that comes before the frame that
    // places the button finds no button there.
    void openIrPanelOfSlot0() {
        click(237, 245);
        ASSERT_TRUE(waitFor([&] { return near(at(390, height_ - 42), kBottomBar); })) << "the IR panel opens";
    }
    void clickSelect() { click(434, height_ - 42); }

    // A close request as the window manager would send it; the exit code.
    std::optional<int> closeEditor() {
        x_.sendCloseRequest(window_);
        window_ = 0;
        return editor_->waitForExit(30s);
    }

    // Waits until the emulator has received n messages and nothing more for a moment.
    bool settleAt(int n) {
        if (!EmulatorProcess::waitFor([&] { return amp_->receivedTotal() >= n; })) return false;
        std::this_thread::sleep_for(300ms);
        return amp_->receivedTotal() == n;
    }
    int stores(int slot) {
        const auto ir = EmulatorProcess::fields(amp_->command("ir " + std::to_string(slot)));
        return ir.count("stores") ? std::stoi(ir.at("stores")) : 0;
    }
    Bytes dumped(int slot) {
        const auto ir = EmulatorProcess::fields(amp_->command("ir " + std::to_string(slot)));
        return ir.count("file") ? test::readBytes(ir.at("file")) : Bytes{};
    }

    std::string transcript() const {
        return "\n" + (amp_ ? amp_->transcript() : "") + (editor_ ? editor_->transcript() : "");
    }
    fs::path dump() const { return dir_ / "dump"; }

    XSession x_;
    WineMidiBridge bridge_;
    fs::path dir_ = fs::path(::testing::TempDir()) / "windows-editor-e2e";
    std::unique_ptr<EmulatorProcess> amp_;
    std::unique_ptr<WineProgram> editor_;
    unsigned long window_ = 0;
    int width_ = 0, height_ = 0;
};

TEST_F(WindowsEditor, ConnectsReadsTheAmplifierAndWritesAClickedEditByteForByte) {
    startConnected();
    EXPECT_EQ(amp_->messages(), syncConversation(0)) << transcript();
    EXPECT_TRUE(near(at(width_ - 362, 20), kBoxLit)) << "MONO lit, as the amplifier has it";
    EXPECT_TRUE(near(at(403, 20), kBoxDark)) << "REVERB TAILS dark: reverb tails are on";
    ASSERT_EQ(amp_->command("clear"), "ok cleared");

    clickReverb();  // the lead channel's reverb, the channel program 0 uses
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x01) == 1; })) << transcript();
    EXPECT_EQ(amp_->message(0), kReverbOnWrite);
    EXPECT_EQ(amp_->recordHex(0), "01210111020101102331");
    EXPECT_TRUE(waitFor([&] { return near(at(switchRowLeft() + 520, 61), kKnobOn); }, 5s)) << "REVERB lit";
    EXPECT_EQ(closeEditor(), 0);
}

// A screen reader in another process (MSAA through AccessibleObjectFromWindow) finds every control
// with its role and name, REVERB's default action writes what a click writes, and the controls of
// an IR panel opened afterwards are listed to the same reader.
TEST_F(WindowsEditor, ScreenReadersListTheControlsAndReverbsDefaultActionWritesAsAClickDoes) {
    startConnected();
    WineProgram reader(environment("HALVARD_WINDOWS_MSAA_PROBE"));
    ASSERT_TRUE(reader.started());
    ASSERT_TRUE(reader.nextLine("ready", 30s)) << reader.transcript();
    const auto listing = [&] {
        reader.send("list");
        EXPECT_TRUE(reader.nextLine("end", 30s)) << reader.transcript();
        return reader.takeLines("control ");
    };
    // The line of the control named `name`, and its role and state.
    const auto find = [](const std::vector<std::string>& lines, const std::string& name) {
        for (const std::string& line : lines)
            if (line.find(" name=" + name + " description=") != std::string::npos) return line;
        return std::string();
    };
    const auto field = [](const std::string& line, const std::string& key, int base) {
        const size_t at = line.find(" " + key + "=");
        return at == std::string::npos ? -1L : std::stol(line.substr(at + key.size() + 2), nullptr, base);
    };
    // MSAA's roles: a toggle is a check box.
    const auto msaaRole = [](ControlRole role) {
        switch (role) {
            case ControlRole::ToggleButton:
                return 0x2cL;
            case ControlRole::PushButton:
                return 0x2bL;
            case ControlRole::RadioButton:
                return 0x2dL;
            case ControlRole::ListItem:
                return 0x22L;
            case ControlRole::SpinButton:
                return 0x34L;
        }
        return 0L;
    };
    constexpr long kChecked = 0x10, kFocusable = 0x100000;
    const std::vector<std::string> controls = listing();
    std::vector<std::pair<long, std::string>> listed, expected;
    for (const std::string& line : controls) {
        const size_t name = line.find(" name="), end = line.find(" description=");
        listed.emplace_back(field(line, "role", 10), line.substr(name + 6, end - name - 6));
    }
    for (const auto& [role, name] : testing::connectedPanelListing())
        expected.emplace_back(msaaRole(role), name);
    EXPECT_EQ(listed, expected);
    const std::string reverb = find(controls, "REVERB");
    EXPECT_EQ(field(reverb, "state", 16) & (kChecked | kFocusable), kFocusable) << reverb;

    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    reader.send("do REVERB");
    EXPECT_EQ(reader.nextLine("done", 30s), "done 0") << reader.transcript();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x01) == 1; })) << transcript();
    EXPECT_EQ(amp_->message(0), kReverbOnWrite);
    EXPECT_TRUE(waitFor([&] { return field(find(listing(), "REVERB"), "state", 16) & kChecked; }, 10s))
        << "REVERB checked, as the amplifier now has it";
    // Controls that come later are listed to the same reader: the IR panel's.
    openIrPanelOfSlot0();
    EXPECT_TRUE(waitFor([&] { return !find(listing(), "EXTRACT ALL").empty(); }, 10s))
        << "the IR panel's controls are not listed";
    reader.send("quit");
    EXPECT_EQ(reader.waitForExit(30s), 0);
}

// The keyboard alone, through Wine's keyboard input: Tab to REVERB and Space write what a click
// writes, Ctrl+Z what the click taking it back writes, Page Up reads the next program, Ctrl+plus
// grows the window and Ctrl+0 gives it its size back.
TEST_F(WindowsEditor, TheKeysActAsTheirPointerCounterparts) {
    startConnected();
    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    const auto writes = [&](int n) {
        return EmulatorProcess::waitFor([&] { return amp_->received(0x01) >= n; }) &&
               amp_->received(0x01) == n;
    };
    clickReverb();
    ASSERT_TRUE(writes(1)) << transcript();
    const Bytes on = amp_->message(-1);
    clickReverb();
    ASSERT_TRUE(writes(2)) << transcript();
    const Bytes off = amp_->message(-1);

    // The keys reach the window under the pointer: it rests on the picture, over no control.
    ASSERT_TRUE(testing::xdotool("mousemove --window " + std::to_string(window_) + " 700 500"));
    ASSERT_TRUE(testing::xdotool("key --delay 50 Tab Tab Tab Tab Tab Tab Tab Tab space"));
    ASSERT_TRUE(writes(3)) << "Tab to REVERB, Space" << transcript();
    EXPECT_EQ(amp_->message(-1), on);
    ASSERT_TRUE(testing::xdotool("key ctrl+z"));
    ASSERT_TRUE(writes(4)) << transcript();
    EXPECT_EQ(amp_->message(-1), off);
    EXPECT_EQ(amp_->recordHex(0), kRecord0);

    ASSERT_TRUE(testing::xdotool("key Page_Up"));
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x02) >= 1; })) << transcript();
    EXPECT_EQ(amp_->message(-1), sysex({0x02, 0x01}));

    ASSERT_TRUE(testing::xdotool("key ctrl+plus"));
    EXPECT_TRUE(waitFor(
        [&] {
            const auto [w, h] = x_.windowSize(window_);
            return w > width_ && h > height_;
        },
        10s))
        << "the window grows with the panel";
    ASSERT_TRUE(testing::xdotool("key ctrl+0"));
    EXPECT_TRUE(waitFor([&] { return x_.windowSize(window_) == std::pair{width_, height_}; }, 10s));
    EXPECT_EQ(closeEditor(), 0);
}

// The PROGRAMS overlay: a click on the program number opens it, the named program's row shows its
// name, a click on a row selects that program (never read, so the editor reads it), and a double
// click names it.
TEST_F(WindowsEditor, TheProgramsOverlayShowsANameSelectsAProgramByClickNamesItAndMarksWhatDiffers) {
    constexpr int kRowsTop = 42;
    constexpr int kRowHeight = 24;
    const fs::path library = dir_ / "library.sqlite3";
    startEmulator();
    {
        // Program 3 named; a backup kept of the emulator's programs with program 8 otherwise.
        std::string error;
        auto names = ProgramLibrary::open(library, error);
        ASSERT_TRUE(names) << error;
        ASSERT_TRUE(names->setName(3, "Clean Crunch", std::nullopt, error)) << error;
        KeptBackup kept;
        const auto records = amp_->records();
        ASSERT_EQ(records.size(), kept.records.size());
        std::copy(records.begin(), records.end(), kept.records.begin());
        kept.records[8][0] ^= 1;
        ASSERT_TRUE(names->recordBackup(kept, error)) << error;
    }
    startEditor(environment("HALVARD_WINDOWS_EDITOR"), {"HALVARD_LIBRARY=" + windowsPath(library.string())});
    ASSERT_TRUE(showsConnected()) << transcript();
    ASSERT_EQ(amp_->command("clear"), "ok cleared");

    const int left = (width_ + 30) / 2;  // the program box
    click(left + 110, 20);
    const auto nameShown = [&](int row) {
        for (int x = left + 52; x < left + 200; ++x)
            for (int y = kRowsTop + kRowHeight * row + 6; y < kRowsTop + kRowHeight * (row + 1) - 6; ++y)
                if (((at(x, y).value_or(0) >> 8) & 0xff) > 0x60) return true;
        return false;
    };
    EXPECT_TRUE(waitFor([&] { return nameShown(3); }, 10s)) << "no name on program 3's row" << transcript();
    EXPECT_FALSE(nameShown(4));
    click(left + 100, kRowsTop + kRowHeight * 5 + 12);
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x02) >= 1; })) << transcript();
    EXPECT_EQ(amp_->message(-1), sysex({0x02, 0x05}));

    // A double click on the row asks for its name in the Win32 dialog; the name typed is kept.
    ASSERT_TRUE(testing::xdotool(
        "mousemove --window " + std::to_string(window_) + " " + std::to_string(left + 100) + " " +
        std::to_string(kRowsTop + kRowHeight * 5 + 12) + " click --repeat 2 --delay 80 1"));
    const unsigned long dialog = x_.findWindow("Name Program 5", Millis(20000));
    ASSERT_NE(dialog, 0u) << "no name dialog" << transcript();
    // A click on its title gives it the keys first; the text field has the focus.
    ASSERT_TRUE(testing::xdotool("mousemove --window " + std::to_string(dialog) + " 60 12 click 1"));
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(testing::xdotool("type --delay 20 Five"));
    ASSERT_TRUE(testing::xdotool("key Return"));
    EXPECT_TRUE(waitFor([&] {
        std::string error;
        std::array<ProgramName, kProgramCount> names;
        const auto opened = ProgramLibrary::open(library, error);
        return opened && opened->names(names, error) && names[5].name == "Five";
    })) << "the name typed was not kept"
        << transcript();

    // A row's menu compares with the kept backup: a frame around program 8's number alone. A menu
    // asked for while the name dialog is still going away may not open (the keys then do nothing on
    // a panel without focus): then it is asked for again.
    const auto marked = [&](int row) {
        return near(at(left + 10, kRowsTop + kRowHeight * row + 3), 0xddcfbc);
    };
    bool compared = false;
    for (int attempt = 0; attempt < 3 && !compared; ++attempt) {
        ASSERT_TRUE(testing::xdotool("mousemove --window " + std::to_string(window_) + " " +
                                     std::to_string(left + 100) + " " + std::to_string(kRowsTop + 12) +
                                     " click 3"));
        std::this_thread::sleep_for(1500ms);
        for (const char* key : {"Down", "Down", "Down", "Down", "Down", "Right", "Return"}) {
            ASSERT_TRUE(testing::xdotool(std::string("key ") + key));
            std::this_thread::sleep_for(200ms);
        }
        compared = waitFor([&] { return marked(8); }, 15s);
    }
    EXPECT_TRUE(compared) << "program 8 not marked" << transcript();
    EXPECT_FALSE(marked(7));
    EXPECT_EQ(closeEditor(), 0);
}

TEST_F(WindowsEditor, APresetStoreAndChangeNoticesAreReadAgain) {
    startConnected();
    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    clickStorePreset();
    // The store is answered with a change notice, which the editor follows with one full re-read.
    ASSERT_TRUE(settleAt(1 + 8)) << transcript();
    std::vector<Bytes> expected{sysex({0x0A})};
    for (const Bytes& m : syncConversation(0)) expected.push_back(m);
    EXPECT_EQ(amp_->messages(), expected);

    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    ASSERT_EQ(amp_->command("set-record 7 00000000000000001111"), "ok record 7 00000000000000001111");
    ASSERT_EQ(amp_->command("notice 7"), "ok notice sent");
    ASSERT_TRUE(settleAt(8)) << transcript();
    EXPECT_EQ(amp_->messages(), syncConversation(7));
    EXPECT_TRUE(showsConnected());
}

TEST_F(WindowsEditor, UnplugShowsNoDeviceWithTheCountAndTheReturnReadsEverythingAgain) {
    startConnected();
    ASSERT_EQ(amp_->command("unplug"), "ok unplugged");
    ASSERT_TRUE(showsNoDevice()) << transcript();
    EXPECT_TRUE(waitFor([&] { return statusLineHasText(); }, 5s)) << "NO AMPLIFIER AMONG 2 MIDI PORTS";

    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    ASSERT_EQ(amp_->command("plug"), "ok plugged");
    ASSERT_TRUE(showsConnected()) << transcript();
    EXPECT_TRUE(settleAt(8));
    EXPECT_EQ(amp_->messages(), syncConversation(0));
}

TEST_F(WindowsEditor, TwoUnansweredRequestsBringTheRestartRequestAndAFullReRead) {
    startConnected();
    ASSERT_EQ(amp_->command("fault hang on"), "ok fault hang on");
    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    ASSERT_EQ(amp_->command("notice"), "ok notice sent");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x0C) >= 1; }, 20s)) << transcript();
    ASSERT_TRUE(showsConnected()) << transcript();
    EXPECT_EQ(EmulatorProcess::fields(amp_->command("status"))["hung"], "0");
    const std::vector<Bytes> all = amp_->messages();
    ASSERT_GE(all.size(), 8u);
    EXPECT_EQ(std::vector<Bytes>(all.end() - 8, all.end()), syncConversation(0)) << "a full sync ends it";
}

// A refused file's reason is on the status line, which a screen reader reads as the panel's
// description.
TEST_F(WindowsEditor, TheStatusLineNamesWhyAnIrFileWasRefused) {
    const std::string wav = (dir_ / "Too Fast.wav").string();
    ASSERT_TRUE(
        test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 1, std::vector<float>(64, 0.5f)));
    startConnected();
    WineProgram reader(environment("HALVARD_WINDOWS_MSAA_PROBE"));
    ASSERT_TRUE(reader.started());
    ASSERT_TRUE(reader.nextLine("ready", 30s)) << reader.transcript();
    const auto status = [&] {
        reader.send("status");
        return reader.nextLine("status", 30s).value_or("");
    };
    EXPECT_EQ(status(), "status ");
    ASSERT_NO_FATAL_FAILURE(importThroughDialog(wav));
    EXPECT_TRUE(
        waitFor([&] { return status() == "status IR NOT IMPORTED: 192000 HZ (44100 TO 96000 ONLY)"; }, 20s))
        << reader.transcript();
    EXPECT_EQ(amp_->received(0x09), 0) << "nothing sent";
    reader.send("quit");
    EXPECT_EQ(reader.waitForExit(30s), 0);
}

TEST_F(WindowsEditor, AWavFileAndAFactoryIrAreStoredByteForByte) {
    std::vector<float> samples(1500);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? 0.6f : -0.6f) / static_cast<float>(1 + i / 50);
    const std::string wav = (dir_ / "Edge Mic.wav").string();
    ASSERT_TRUE(test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, samples));
    const IrImport expected = prepareIrFromWav(wav);
    ASSERT_TRUE(expected.ok());
    startConnected();

    ASSERT_NO_FATAL_FAILURE(importThroughDialog(wav));
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return stores(1) == 1; }, 30s)) << transcript();
    EXPECT_EQ(dumped(1), expected.image) << "the stored image is the converter's, byte for byte";

    // The IR panel of slot 0, SELECT: the first factory IR, in 157 chunks.
    ASSERT_TRUE(showsConnected());
    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    openIrPanelOfSlot0();
    clickSelect();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return stores(0) == 1; }, 30s)) << transcript();
    EXPECT_EQ(amp_->received(0x08), 157);
    EXPECT_EQ(amp_->received(0x09), 1);
    EXPECT_EQ(dumped(0), *buildIrWavImage(*factoryIrCatalogue()[0].image));
}

// Files dropped on the window from the X side (XDND, which Wine turns into WM_DROPFILES): a program
// file is loaded into the current program as an edit, a WAV file on slot 1's row is stored there.
TEST_F(WindowsEditor, FilesDroppedOnTheWindowAreLoadedOrImported) {
    ProgramSettings shared;
    shared.channel = 1;
    shared.tremolo[1] = 1;
    shared.filterA[0] = shared.filterA[1] = 1;
    shared.filterB[0] = shared.filterB[1] = 3;
    const ProgramRecord record = recordOfSettings(shared);
    const std::string program = (dir_ / "Shared Sound.halvard-program").string();
    std::string error;
    ASSERT_TRUE(writePortableProgram(program, {"Shared Sound", record, {}, {}, ""}, error)) << error;
    std::vector<float> samples(1500);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? 0.4f : -0.4f) / static_cast<float>(1 + i / 30);
    const std::string wav = (dir_ / "Dropped Mic.wav").string();
    ASSERT_TRUE(test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, samples));
    startConnected();

    ASSERT_TRUE(x_.dropFiles(window_, 700, 450, {program}, Millis(30000))) << transcript();
    const auto upper = [](std::string hex) {
        for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return hex;
    };
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return upper(amp_->recordHex(0)) == toHex(record); }, 30s))
        << amp_->recordHex(0) << transcript();
    EXPECT_EQ(EmulatorProcess::fields(amp_->command("status")).at("preset-stores"), "0") << "not stored";

    ASSERT_TRUE(showsConnected());
    ASSERT_TRUE(x_.dropFiles(window_, 215, 276, {wav}, Millis(30000))) << transcript();
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return stores(1) == 1; }, 30s)) << transcript();
}

TEST_F(WindowsEditor, AnOlderAmplifierIsUpdatedWithTheServedFirmware) {
    std::string served(kFirmwareImageBytes, '\0');
    for (size_t i = 0; i < served.size(); ++i) served[i] = static_cast<char>((i * 13 + i / 256 + 1) & 0xFF);
    served[kFirmwareImageBytes - 3] = 0x02;  // version 2.0
    served[kFirmwareImageBytes - 4] = 0x00;
    test::LoopbackHttpServer server([&](const std::string&) {
        test::HttpResponse response;
        response.body = served;
        return response;
    });
    startEmulator();
    startEditor(environment("HALVARD_WINDOWS_EDITOR_FIRMWARE"),
                {"HALVARD_TEST_FIRMWARE_URL=" + server.baseUrl()});
    // The backup of every program, the transfer, the store, the restart and the sync afterwards.
    ASSERT_TRUE(EmulatorProcess::waitFor(
        [&] { return EmulatorProcess::fields(amp_->command("firmware"))["version"] == "2.0"; }, 120s))
        << transcript();
    ASSERT_TRUE(showsConnected(60s)) << transcript();
    EXPECT_EQ(amp_->received(0x07), 512);
    const auto firmware = EmulatorProcess::fields(amp_->command("firmware"));
    EXPECT_EQ(firmware.at("stores"), "1");
    std::ifstream file(firmware.at("file"), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(file), {}) == served)
        << "the stored image differs";
}

TEST_F(WindowsEditor, ClosingDuringATransferSendsNothingMore) {
    startEmulator({"--delay", "20"});  // a slow amplifier: the transfer takes seconds
    startEditor();
    ASSERT_TRUE(showsConnected()) << transcript();
    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    openIrPanelOfSlot0();
    clickSelect();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x08) >= 10; })) << transcript();
    EXPECT_EQ(closeEditor(), 0) << transcript();
    const int atExit = amp_->receivedTotal();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(amp_->receivedTotal(), atExit) << "nothing after the editor ended";
    EXPECT_LT(amp_->received(0x08), 157);
    EXPECT_EQ(amp_->received(0x09), 0) << "no store of a part";
}

// Windows lets one program at a time open a MIDI port: while a DAW has the amplifier's, the editor
// says PORT IN USE rather than NO DEVICE, and connects by itself once the port is free.
TEST_F(WindowsEditor, APortHeldByAnotherProgramShowsPortInUseUntilItIsFree) {
    startEmulator();
    ASSERT_EQ(bridge_.command("hold Halvard VDR"), "ok hold Halvard VDR");
    startEditor();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return std::stoi(bridge_.status()["refused"]) >= 1; }))
        << transcript();
    ASSERT_TRUE(showsNoDevice());
    std::this_thread::sleep_for(500ms);  // the repaint after the refusal
    const auto inUse = connectionBoxText();

    ASSERT_EQ(bridge_.command("release"), "ok release");
    ASSERT_TRUE(showsConnected()) << "connected by itself once the port was free" << transcript();
    EXPECT_EQ(amp_->messages(), syncConversation(0));

    // The same box with NO DEVICE, for comparison: PORT IN USE is the longer text.
    ASSERT_EQ(bridge_.command("unplug Halvard VDR"), "ok unplug Halvard VDR");
    ASSERT_TRUE(showsNoDevice()) << transcript();
    std::this_thread::sleep_for(500ms);
    const auto noDevice = connectionBoxText();
    EXPECT_LT(inUse.first, noDevice.first) << "PORT IN USE, not NO DEVICE";
    EXPECT_GT(inUse.second, noDevice.second);
}

// USB unplugged during a transfer: the transfer stops, the window shows NO DEVICE and still closes
// at once, and the editor connects again when the device is back.
TEST_F(WindowsEditor, UnpluggedDuringATransferItStopsAndReconnectsWhenBack) {
    startEmulator({"--delay", "20"});
    startEditor();
    ASSERT_TRUE(showsConnected()) << transcript();
    openIrPanelOfSlot0();
    clickSelect();
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp_->received(0x08) >= 10; })) << transcript();
    ASSERT_EQ(bridge_.command("unplug Halvard VDR"), "ok unplug Halvard VDR");
    ASSERT_TRUE(showsNoDevice()) << "the transfer ended and the panel shows it" << transcript();
    EXPECT_EQ(amp_->received(0x09), 0) << "no store of a part";

    ASSERT_EQ(amp_->command("clear"), "ok cleared");
    ASSERT_EQ(bridge_.command("plug"), "ok plug");
    ASSERT_TRUE(showsConnected()) << transcript();
    EXPECT_TRUE(settleAt(8));
    EXPECT_EQ(amp_->messages(), syncConversation(0));
    EXPECT_EQ(closeEditor(), 0);
}

// Closing ends the process with code 0 whatever the worker is doing: here it waits in the open of a
// port that does not answer (the driver gives up after 5 s), and the work of the Wine process's
// exit in the system's libraries is slow (Wine's server kills a process that is still there half a
// second after it said it was gone: exit code 137).
TEST_F(WindowsEditor, ClosingEndsWithCodeZeroWhileAPortOpenHangsAndExitWorkIsSlow) {
    startEmulator();
    ASSERT_EQ(bridge_.command("stall Halvard VDR"), "ok stall Halvard VDR");
    startEditor(environment("HALVARD_WINDOWS_EDITOR"), {std::string("LD_PRELOAD=") + HALVARD_SLOW_EXIT});
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return bridge_.status()["stalled"] == "1"; }, 30s))
        << transcript();
    EXPECT_EQ(closeEditor(), 0) << transcript();
}

}  // namespace
}  // namespace halvard::e2e
