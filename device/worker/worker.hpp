#pragma once
// The device worker: the one thread that talks to the amplifier. Every 5 ms it checks that the
// amplifier's ports are still there, reads the amplifier into the mirror when the link is made or
// the amplifier reports a change, recovers the link after repeated time-outs, and carries out the
// command the user-interface thread posted. While there is no amplifier it has nothing to do until
// the port set changes, and sleeps until the MIDI system reports a change (see awaitPortChange);
// connected with nothing under way, it sleeps until input comes, a command is posted or the ports
// change (see awaitWork).
//
// Starting and stopping (entry function, or a test without a window):
//
//     LinkContext link;
//     link.ui = &mirror;                   // required
//     link.requestRepaint = ...;           // optional, callable from any thread
//     startDeviceWorker(link);             // RtMidi ports (ALSA, and JACK while a server runs)
//     ...
//     stopDeviceWorker(link);              // sets quit and joins; do this before destroying link
//
// To run on other ports (a fake, or a port pair of one's own), set link.ports before starting;
// the worker then uses it and never destroys it.

#include <chrono>
#include <memory>
#include <string_view>

#include "device/firmware/firmware_download.hpp"
#include "device/link/link_context.hpp"

namespace halvard {

inline constexpr int kFailureLimit = 2;        // failures at or above this start link recovery
inline constexpr int kRecoveryPauseMs = 1000;  // ports open after the restart request during recovery
inline constexpr int kStoreDisplayMs = 500;    // how long "STORING..." shows after a preset store
// The longest sleep with no amplifier, and connected and idle, whatever the port back end expects
// of its system.
inline constexpr int kNoDeviceWaitLimitMs = 1000;
inline constexpr int kIdleWaitLimitMs = 1000;
// An amplifier port that another program has open is tried again this long after the last try.
inline constexpr int kPortInUseRetryMs = 2000;
// A program library that another program held locked is tried again this often while connected,
// each time waiting at most kLibraryRetryBusyWaitMs for the lock (the worker does nothing else
// meanwhile).
inline constexpr int kLibraryRetryMs = 5000;
inline constexpr int kLibraryRetryBusyWaitMs = 10;
// The status line while another program holds the amplifier (ctx.amplifierLock): halvard-cli for a
// command (the editor sends nothing meanwhile and reads the amplifier again after it), or another
// editor (this one does not connect; it tries again every kPortInUseRetryMs).
inline constexpr std::string_view kInUseByCliText = "AMPLIFIER IN USE BY HALVARD-CLI";
inline constexpr std::string_view kInUseByEditorText = "AMPLIFIER IN USE BY HALVARD-EDITOR";

// Finds the amplifier's ports (the first input and the first output whose names contain
// ctx.amplifierPortTag, "VDR" unless the user named another) and opens them if they are not open yet. True
// when both are open; otherwise both are closed. Run at the start of every pass.
bool openDevicePorts(LinkContext& ctx);

// One worker's state and its pass. Tests drive passes one at a time; runDeviceWorker loops them.
class DeviceWorker {
public:
    explicit DeviceWorker(LinkContext& ctx);
    ~DeviceWorker();
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // One pass: 5 ms pause (or the idle wait), port scan, recovery or reply poll and sync, command
    // dispatch.
    void runPass();

    // True until the firmware image has been fetched once; stays false for the rest of the run.
    bool fetchFirmware() const { return fetchFirmware_; }

private:
    enum class SyncEnd { Done, FirmwareUpdated };

    SyncEnd sync();
    bool findAndOpenPorts();
    bool holdAmplifier();
    void showNoDevice();
    void awaitPortChange();
    bool awaitWork();
    void recoverLink();
    bool dispatchCommand();
    void setLinkState(LinkState state);
    void retryLockedLibrary();

    LinkContext& ctx_;
    bool fetchFirmware_ = true;
    std::unique_ptr<FirmwareImage> image_;  // allocated on the first fetch
    // Whether the last try found the amplifier's port held by another program, and when to try again.
    bool portInUse_ = false;
    // Another editor holds the amplifier (retried at retryAt_), and whether the status line says so;
    // halvard-cli held it at the last pass.
    bool otherEditor_ = false;
    bool otherEditorShown_ = false;
    bool heldByCli_ = false;
    std::chrono::steady_clock::time_point retryAt_{};
    // A library opened on a later try (see retryLockedLibrary), and when the next try is due.
    std::unique_ptr<ProgramLibrary> reopenedLibrary_;
    std::chrono::steady_clock::time_point libraryRetryAt_{};
    // The last pass found the link up and did nothing: it took no message, ran no sync or recovery
    // and carried out no command.
    bool idle_ = false;
};

// The worker thread's body: passes until ctx.quit is set, then both ports are closed. Creates the
// RtMidi port pair when ctx.ports is null and destroys it before returning.
void runDeviceWorker(LinkContext& ctx);

// Clears ctx.quit and starts runDeviceWorker on ctx.worker.
void startDeviceWorker(LinkContext& ctx);
// Sets ctx.quit, wakes the worker and waits for it to end. Safe to call when it was never started.
void stopDeviceWorker(LinkContext& ctx);

}  // namespace halvard
