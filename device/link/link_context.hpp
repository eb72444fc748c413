#pragma once
// The block that ties the device worker to the MIDI ports, the window and the mirror.
// One instance lives in the entry function (or a test) for as long as the worker runs.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "device/link/clock.hpp"
#include "device/link/file_dialogs.hpp"
#include "device/link/midi_ports.hpp"
#include "model/device_mirror.hpp"
#include "program_library/program_library.hpp"
#include "util/amplifier_port_tag.hpp"
#include "util/wakeup.hpp"

namespace halvard {

class AmplifierLock;   // device/link/amplifier_lock.hpp
class FirmwareSource;  // device/firmware/firmware_download.hpp

struct LinkContext {
    // Worker thread only.
    int32_t reply = 0;         // code of the last reply the decoder accepted; 0 = none since the last request
    int32_t replyFor = -1;     // the program (settings reply) or slot (slot name reply) it was for; else -1
    bool resync = false;       // read the whole amplifier again at the next pass
    bool globalsRead = false;  // a settings reply of program 0, which alone carries them, since the link
    int32_t failures = 0;      // consecutive failed exchanges; 2 or more starts link recovery
    MidiPorts* ports = nullptr;  // the input and output port objects; null: runDeviceWorker creates
                                 // the RtMidi pair for as long as it runs
    // Each program's record as last read from the amplifier (as it stores it: the panel's bypass
    // lock not applied); absent until read. Cleared when a new link is made. Written through
    // setAmplifierRecord, which counts the changes in recordsVersion.
    ProgramRecords amplifierRecords{};
    uint32_t recordsVersion = 0;
    // The records of the file or kept backup the PROGRAMS overlay compares with (absent for a
    // program it does not store); none while nothing is compared. Forgotten with a new link.
    std::optional<ProgramRecords> comparedWith;
    // While a backup reads every program: the current one and the panel's record of it, edits the
    // amplifier drops once another program is read included (they are written back at the end).
    // Reading that program's stored record meanwhile is the editor's own doing, not an outside
    // change. Program -1: none.
    struct {
        int32_t program = -1;
        ProgramSettings edited;
    } editsWrittenBack;
    // What the panel's program name and the overlay's list were last worked out from; program -1:
    // work them out again.
    struct {
        int32_t program = -1;
        uint32_t recordsVersion = 0;
    } shownName;

    // Set before the worker starts and never changed while it runs.
    DeviceMirror* ui = nullptr;
    std::function<void()> requestRepaint;  // callable from any thread; may be empty (tests)
    Clock* clock = nullptr;                // null: the steady clock
    FileDialogs* dialogs = nullptr;        // null: every dialog is cancelled
    FirmwareSource* firmware = nullptr;    // null: no download is attempted
    // The backups folder: every program is kept here as a program file before a firmware update,
    // and before a restore, copy or swap when the library cannot keep them; empty: none known (no
    // home folder), and then only the library can keep an automatic backup.
    std::filesystem::path backupFolder;
    // The program library (names, kept backups), used on the worker thread only; null: none (the
    // editor works without names). runDeviceWorker opens libraryPath when it is null.
    ProgramLibrary* library = nullptr;
    std::filesystem::path libraryPath;  // empty: no library
    // Who may talk to the amplifier across this user's programs (a second editor, halvard-cli),
    // used by the worker only; null: no other program is kept away (tests on ports of their own).
    AmplifierLock* amplifierLock = nullptr;
    // The amplifier's ports are the first input and output whose names contain this (set before
    // the worker starts: the editor's --port or its settings).
    std::string amplifierPortTag{kAmplifierPortTag};

    std::atomic<bool> quit{false};  // set by the entry function (or a test) to stop the worker
    // Ends the worker's sleep while it waits, with no amplifier, for the port set to change, or,
    // connected and idle, for work: the port back end notifies it of a change, the mirror of a
    // posted command, stopDeviceWorker of quit.
    Wakeup wakeup;
    std::thread worker;  // started by startDeviceWorker, joined by stopDeviceWorker

    void repaint() const {
        if (requestRepaint) requestRepaint();
    }
    // A new amplifier, or one restarted: the mirror reset, and what was known of its programs.
    void forgetAmplifier() {
        ui->resetDeviceMirror();
        globalsRead = false;
        amplifierRecords = {};
        ++recordsVersion;
        comparedWith.reset();
        shownName.program = -1;
    }
    void setAmplifierRecord(int program, const std::optional<ProgramRecord>& record) {
        if (program < 0 || program >= kProgramCount) return;
        std::optional<ProgramRecord>& held = amplifierRecords[static_cast<size_t>(program)];
        if (held == record) return;
        held = record;
        ++recordsVersion;
    }
};

// Holds ctx.editsWrittenBack for as long as it lives: the reads of a backup, a copy or a swap, after
// which the edits are written back.
class EditsWrittenBack {
public:
    EditsWrittenBack(LinkContext& ctx, int32_t program, const ProgramSettings& edited) : ctx_(ctx) {
        ctx_.editsWrittenBack = {program, edited};
    }
    ~EditsWrittenBack() { ctx_.editsWrittenBack.program = -1; }
    EditsWrittenBack(const EditsWrittenBack&) = delete;
    EditsWrittenBack& operator=(const EditsWrittenBack&) = delete;

private:
    LinkContext& ctx_;
};

// The context's dialog, or an empty path when the context has none or a stop was requested.
inline std::string showFileDialog(LinkContext& ctx, DialogMode mode) {
    if (ctx.dialogs == nullptr || ctx.quit) return {};
    return ctx.dialogs->showFileDialog(mode);
}

// The context's question; false (cancel) when the context has no dialogs or a stop was requested.
inline bool askToConfirm(LinkContext& ctx, const Confirmation& question) {
    if (ctx.dialogs == nullptr || ctx.quit) return false;
    return ctx.dialogs->confirm(question) && !ctx.quit;
}

}  // namespace halvard
