#include "device/worker/worker.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "device/firmware/firmware_update.hpp"
#include "device/ir_transfer/ir_commands.hpp"
#include "device/ir_transfer/ir_transfer.hpp"
#include "device/librarian/collection_commands.hpp"
#include "device/librarian/librarian_commands.hpp"
#include "device/librarian/library_access.hpp"
#include "device/link/amplifier_lock.hpp"
#include "device/link/clock.hpp"
#include "device/link/midi_ports.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "device/protocol/exchanges.hpp"
#include "util/amplifier_port_tag.hpp"
#include "util/paths.hpp"

// Sections: port scan, the pass, sync, link recovery, command dispatch, thread entry.

namespace halvard {
namespace {

constexpr PortDirection kIn = PortDirection::Input;
constexpr PortDirection kOut = PortDirection::Output;

// Our own port names, as other programs see them.
constexpr const char* kOwnInputName = "midi Input";
constexpr const char* kOwnOutputName = "midi Output";

// The amplifier's ports are the ones whose names contain ctx.amplifierPortTag.
int findAmplifierPort(const LinkContext& ctx, PortDirection direction) {
    MidiPorts& ports = *ctx.ports;
    const int count = ports.portCount(direction);
    for (int i = 0; i < count; ++i) {
        if (ports.portName(direction, i).find(ctx.amplifierPortTag) != std::string::npos) return i;
    }
    return -1;
}

}  // namespace

// ---- port scan --------------------------------------------------------------------------------

bool openDevicePorts(LinkContext& ctx) {
    MidiPorts& ports = *ctx.ports;
    // The scan runs every pass even with the ports open: on ALSA an unplugged device raises no
    // error and its port still reports open, so its absence from the list is how the loss shows.
    // (The ports keep their lists between passes until the system reports a change.)
    const int in = findAmplifierPort(ctx, kIn);
    const int out = findAmplifierPort(ctx, kOut);
    ports.installErrorHandler();

    if (in >= 0 && out >= 0) {
        // Ports already open stay open even if the amplifier is now listed at another index.
        if (!ports.isPortOpen(kIn)) {
            ports.closePort(kIn);
            ports.openPort(kIn, in, kOwnInputName);
            ports.ignoreTypes(kAmplifierInputFilter);
        }
        if (!ports.isPortOpen(kOut)) {
            ports.closePort(kOut);
            ports.openPort(kOut, out, kOwnOutputName);
        }
        if (ports.isPortOpen(kIn) && ports.isPortOpen(kOut)) return true;
    }
    ports.closePort(kIn);
    ports.closePort(kOut);
    return false;
}

// ---- the pass ---------------------------------------------------------------------------------

DeviceWorker::DeviceWorker(LinkContext& ctx) : ctx_(ctx) {
    ctx_.ui->postNotice = &ctx_.wakeup;
    if (ctx_.ports != nullptr) ctx_.ports->reportTo(&ctx_.wakeup);
}

DeviceWorker::~DeviceWorker() {
    if (ctx_.ports != nullptr) ctx_.ports->reportTo(nullptr);
    ctx_.ui->postNotice = nullptr;
    if (AmplifierLock* lock = ctx_.amplifierLock) {
        lock->release();
        lock->leaveEditorPlace();
    }
    if (reopenedLibrary_) ctx_.library = nullptr;
}

void DeviceWorker::setLinkState(LinkState state) {
    ctx_.ui->linkState = state;
}

void DeviceWorker::runPass() {
    DeviceMirror& ui = *ctx_.ui;
    if (!(idle_ ? awaitWork() : pauseFor(ctx_, kPollIntervalMs))) return;
    idle_ = false;
    // What notices told of (a message queued, a command posted, the ports changed) this pass looks
    // at anyway; only what comes from now on may end the next idle wait early.
    ctx_.wakeup.take();

    if (!findAndOpenPorts()) {
        // No amplifier. A pending command stays posted until one is found.
        showNoDevice();
        awaitPortChange();
        return;
    }
    if (!holdAmplifier()) return;
    // Held for this pass's transfer or command only, whichever way the pass ends.
    struct Release {
        AmplifierLock* lock;
        ~Release() {
            if (lock) lock->release();
        }
    } release{ctx_.amplifierLock};

    if (ui.linkState == LinkState::NoDevice || ui.linkState == LinkState::Error) {
        ctx_.forgetAmplifier();
        ctx_.resync = true;
    }

    // Recovery leaves the ports closed: a pending command waits for the sync after it, as it waits
    // for an amplifier, rather than be carried out (a store shown as made) with nothing sent.
    if (ctx_.failures >= kFailureLimit) {
        recoverLink();
        return;
    }
    bool busy = pollReply(ctx_);  // at most one queued message per pass
    if (ctx_.resync) {
        ctx_.resync = false;
        busy = true;
        if (sync() == SyncEnd::FirmwareUpdated) return;
    }
    if (dispatchCommand()) busy = true;
    idle_ = !busy;
    if (ui.linkState == LinkState::Connected) {
        retryLockedLibrary();
        showProgramName(ctx_);
    }
}

// A library that another program held locked when the worker started (past the library's own
// wait) would otherwise leave the editor without names until it is restarted. Connected, the
// worker tries it again every kLibraryRetryMs, briefly each time; once it opens, the names, the
// stale marks and the kept backups follow at once.
void DeviceWorker::retryLockedLibrary() {
    if (ctx_.library != nullptr || ctx_.ui->libraryState != LibraryState::Locked) return;
    const Clock::TimePoint now = clockOf(ctx_).now();
    if (now < libraryRetryAt_) return;
    libraryRetryAt_ = now + std::chrono::milliseconds(kLibraryRetryMs);
    reopenedLibrary_ = openWorkerLibrary(ctx_, std::chrono::milliseconds(kLibraryRetryBusyWaitMs));
    if (ctx_.library == nullptr) return;
    ctx_.shownName.program = -1;
    ctx_.repaint();
}

// Another program's command (halvard-cli) under way or waiting to start: the editor sends nothing,
// takes no command and drops what the amplifier sends meanwhile (the replies to that program), and
// the status line says why. Once it is done the amplifier is read again: the other program may have
// changed it. False while it holds the amplifier.
bool DeviceWorker::holdAmplifier() {
    AmplifierLock* lock = ctx_.amplifierLock;
    if (lock == nullptr) return true;
    DeviceMirror& ui = *ctx_.ui;
    if (!lock->tryTakeForTransfer()) {
        while (!ctx_.ports->nextMessage().empty()) {
        }
        if (!heldByCli_) {
            heldByCli_ = true;
            ui.setStatusLine(kInUseByCliText);
            ctx_.repaint();
        }
        return false;
    }
    if (heldByCli_) {
        heldByCli_ = false;
        if (ui.statusLine().view() == kInUseByCliText) ui.setStatusLine("");
        ctx_.resync = true;
        ctx_.repaint();
    }
    return true;
}

// openDevicePorts, except while the amplifier's port is listed but held by another program: then
// it is tried again only every kPortInUseRetryMs, so that the editor neither hammers the other
// program's driver nor spins.
bool DeviceWorker::findAndOpenPorts() {
    MidiPorts& ports = *ctx_.ports;
    const Clock::TimePoint now = clockOf(ctx_).now();
    const bool listed = findAmplifierPort(ctx_, kIn) >= 0 && findAmplifierPort(ctx_, kOut) >= 0;
    if (portInUse_ && now < retryAt_ && listed) return false;
    // One editor at a time: another that holds the amplifier keeps this one from connecting.
    if (AmplifierLock* lock = ctx_.amplifierLock; lock != nullptr) {
        if (!listed) {
            lock->leaveEditorPlace();
            otherEditor_ = false;
        } else if (!lock->editorPlaceHeld()) {
            if (otherEditor_ && now < retryAt_) return false;
            otherEditor_ = !lock->takeEditorPlace();
            if (otherEditor_) {
                retryAt_ = now + std::chrono::milliseconds(kPortInUseRetryMs);
                return false;
            }
        }
    }
    if (openDevicePorts(ctx_)) {
        portInUse_ = false;
        return true;
    }
    // An amplifier no longer listed was not tried: what the ports say is of an earlier try.
    portInUse_ = listed && (ports.portInUse(kIn) || ports.portInUse(kOut));
    retryAt_ = now + std::chrono::milliseconds(kPortInUseRetryMs);
    return false;
}

// The panel says why there is no amplifier: none among the ports seen, or its port in use.
void DeviceWorker::showNoDevice() {
    DeviceMirror& ui = *ctx_.ui;
    const int32_t seen = ctx_.ports->portCount(kIn) + ctx_.ports->portCount(kOut);
    const bool changed =
        ui.linkState != LinkState::NoDevice || ui.portsSeen != seen || ui.portInUse != portInUse_;
    ui.portsSeen = seen;
    ui.portInUse = portInUse_;
    if (ui.linkState != LinkState::NoDevice) {
        ctx_.forgetAmplifier();
        ui.setStatusLine("");  // it spoke of the amplifier that went
        setLinkState(LinkState::NoDevice);
    }
    if (otherEditor_ != otherEditorShown_) {
        otherEditorShown_ = otherEditor_;
        ui.setStatusLine(otherEditor_ ? kInUseByEditorText : "");
        ctx_.repaint();
    }
    if (changed) ctx_.repaint();
}

// With no amplifier a pass can only find one once the port set has changed. So rather than pass
// every 5 ms, the worker sleeps until the port back end expects its lists to be out of date: the
// system reports a change (JACK, the ALSA sequencer), or a slower check of the system is due
// (WinMM, the next look for a JACK server), or quit. The next pass then starts with its 5 ms pause
// as always, so an amplifier is found as quickly as before, and a posted command still waits.
void DeviceWorker::awaitPortChange() {
    Clock& clock = clockOf(ctx_);
    const Clock::TimePoint now = clock.now();
    Clock::TimePoint until =
        std::min(ctx_.ports->listingCurrentUntil(), now + std::chrono::milliseconds(kNoDeviceWaitLimitMs));
    if (portInUse_ || otherEditor_) until = std::min(until, retryAt_);
    if (until > now && !ctx_.quit) clock.waitUntil(until, ctx_.wakeup);
}

// Connected, with nothing under way after the last pass: nothing is awaited from the amplifier but
// what it may send of its own accord (a change notice). So rather than pass every 5 ms, the worker
// sleeps until the port back end reports input queued, a command is posted, the system reports a
// change of ports (an amplifier that goes), or quit; at the latest when the back end's lists are
// due to be taken again (at the next pass where the lists must be taken on every pass), and never
// longer than kIdleWaitLimitMs. The pass that follows starts at once. False once quit is set.
bool DeviceWorker::awaitWork() {
    Clock& clock = clockOf(ctx_);
    const Clock::TimePoint now = clock.now();
    const Clock::TimePoint until =
        std::clamp(ctx_.ports->listingCurrentUntil(), now + std::chrono::milliseconds(kPollIntervalMs),
                   now + std::chrono::milliseconds(kIdleWaitLimitMs));
    if (!ctx_.quit) clock.waitUntil(until, ctx_.wakeup);
    return !ctx_.quit;
}

// ---- sync -------------------------------------------------------------------------------------

// Reads the amplifier into the mirror. A time-out in one step does not stop the later steps
// (except inside the slot loop); only a firmware update ends the sync early.
DeviceWorker::SyncEnd DeviceWorker::sync() {
    DeviceMirror& ui = *ctx_.ui;
    setLinkState(LinkState::Busy);
    ui.progress = kProgressReading;
    ctx_.repaint();

    // 1. Firmware version.
    if (outputOpen(ctx_)) {
        const ReplyResult r = readFirmwareVersion(ctx_);
        if (r == ReplyResult::Ok) ctx_.failures = 0;
        if (r == ReplyResult::Timeout) reportTimeout(ctx_);
    }

    // 2. The newest firmware image, until it has been fetched once in this run.
    if (ui.linkState != LinkState::Error && fetchFirmware_ && ctx_.firmware != nullptr && !ctx_.quit) {
        if (!image_) image_ = std::make_unique<FirmwareImage>();
        if (ctx_.firmware->downloadFirmwareImage(*image_, ctx_.quit)) {
            ui.availableFirmware = firmwareImageVersion(*image_);
            fetchFirmware_ = false;
        }
    }

    // 3. Update decision: a whole image newer than the amplifier's firmware is sent without asking.
    // After a mirror reset availableFirmware is 0, so only an image fetched since then counts.
    // Every program is backed up first; without a backup no firmware goes out in this sync, and the
    // image is fetched again for the next one. (With the output closed nothing goes out at all.)
    if (image_ && !fetchFirmware_ && firmwareUpdateDue(ui, *image_)) {
        std::string reason;
        if (!outputOpen(ctx_) || backupBeforeFirmwareUpdate(ctx_, reason)) {
            runFirmwareUpdate(ctx_, *image_);
            return SyncEnd::FirmwareUpdated;
        }
        ui.setStatusLine(updatePostponedText(reason));
        fetchFirmware_ = true;
    }

    // 4. The current program's settings (reports its own outcome). The global settings come with
    // program 0's alone, and every settings write carries them: an amplifier that reports another
    // program before they were ever read (a change notice during the version read) is read at
    // program 0 first, so that no write sends globals never read.
    if (!ctx_.globalsRead && ui.program != 0) readProgramSettings(ctx_, 0);
    readProgramSettings(ctx_, ui.program);

    // 5. The six user IR slot names, each with its own budget; the first time-out ends the loop.
    if (outputOpen(ctx_)) {
        bool allAnswered = true;
        for (int slot = 0; slot < kUserIrSlotCount && allAnswered; ++slot) {
            const ReplyResult r = readSlotName(ctx_, slot);
            if (r == ReplyResult::Timeout) reportTimeout(ctx_);
            allAnswered = r == ReplyResult::Ok;
        }
        if (allAnswered) ctx_.failures = 0;
    }

    ui.progress = kProgressNone;
    if (ui.linkState != LinkState::Error) setLinkState(LinkState::Connected);
    ctx_.repaint();
    return SyncEnd::Done;
}

// ---- link recovery ----------------------------------------------------------------------------

// Two failed exchanges in a row: reopen the ports, ask the amplifier to restart, give it a second,
// close everything and start over with a full sync on the next pass.
void DeviceWorker::recoverLink() {
    MidiPorts& ports = *ctx_.ports;
    setLinkState(LinkState::Error);
    ports.closePort(kOut);
    ports.closePort(kIn);
    openDevicePorts(ctx_);
    requestRestart(ctx_);
    pauseFor(ctx_, kRecoveryPauseMs);
    ports.closePort(kOut);
    ports.closePort(kIn);
    ctx_.ui->progress = kProgressNone;
    ctx_.failures = 0;
    ctx_.resync = true;
}

// ---- command dispatch -------------------------------------------------------------------------

namespace {

bool isWaveFile(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".wav" || ext == ".wave";
}

// The paths the import dialog answers with, one a line.
std::vector<std::string> filesOfDialog(const std::string& answer) {
    std::vector<std::string> files;
    size_t at = 0;
    while (at < answer.size()) {
        const size_t end = std::min(answer.find('\n', at), answer.size());
        if (end > at) files.push_back(answer.substr(at, end - at));
        at = end + 1;
    }
    return files;
}

// Files dropped on the window (or chosen to import): a Wave file on a user IR slot's row goes into
// that slot; the others are program files for the collection (see importIntoCollection).
void runDroppedFiles(LinkContext& ctx, const std::vector<std::string>& files, int32_t slot) {
    std::vector<std::filesystem::path> programs;
    std::string wave;
    for (const std::string& f : files) {
        const std::filesystem::path path = pathFromUtf8(f);
        if (!isWaveFile(path)) {
            programs.push_back(path);
        } else if (wave.empty()) {
            wave = f;
        }
    }
    if (!wave.empty()) {
        if (slot >= 0 && slot < kUserIrSlotCount) {
            ctx.ui->linkState = LinkState::Busy;
            ctx.repaint();
            importWavIntoSlot(ctx, wave, slot);
            ctx.repaint();
        } else {
            ctx.ui->setStatusLine("DROP A WAVE FILE ON A USER IR SLOT'S ROW TO IMPORT IT");
            ctx.repaint();
        }
    }
    if (!programs.empty()) importIntoCollection(ctx, programs);
}

}  // namespace

// True when a command was taken.
bool DeviceWorker::dispatchCommand() {
    DeviceMirror& ui = *ctx_.ui;
    // One atomic exchange: a command posted while this one is taken waits for the next pass.
    const Command command = ui.takeCommand();
    if (command.kind == CommandKind::None) return false;
    if (ui.settingsUnsent.exchange(false) && command.kind != CommandKind::SendSettings)
        writeProgramSettings(ctx_, ui.program);
    switch (command.kind) {
        case CommandKind::None:
            return false;
        case CommandKind::SendSettings:
            writeProgramSettings(ctx_, ui.program);
            break;
        case CommandKind::ReadSettings:
            // A time-out has already counted a failure; the panel returns to Connected regardless.
            readProgramSettings(ctx_, ui.program);
            setLinkState(LinkState::Connected);
            ctx_.repaint();
            break;
        case CommandKind::StorePreset:
            storePreset(ctx_);
            programStoredByEditor(ctx_);
            setLinkState(LinkState::Busy);
            ui.progress = kProgressStoring;
            ctx_.repaint();
            pauseFor(ctx_, kStoreDisplayMs);
            ui.progress = kProgressNone;
            setLinkState(LinkState::Connected);
            ctx_.repaint();
            break;
        case CommandKind::ImportIr:
            // A slot outside 0..5 is taken and dropped.
            if (command.value >= 0 && command.value < kUserIrSlotCount)
                runImportIrCommand(ctx_, command.value);
            break;
        case CommandKind::UploadFactoryIr:
            runUploadFactoryIrCommand(ctx_);
            break;
        case CommandKind::ExtractAll:
            runExtractAllCommand(ctx_);
            break;
        case CommandKind::BackupPrograms:
            runBackupCommand(ctx_);
            break;
        case CommandKind::RestorePrograms:
            runRestoreCommand(ctx_);
            break;
        case CommandKind::RestoreKeptBackup:
            runRestoreKeptBackupCommand(ctx_, command.value);
            break;
        case CommandKind::RenameProgram:
            renameProgram(ctx_, command.value);
            break;
        case CommandKind::CopyProgram:
        case CommandKind::SwapPrograms:
            runMoveProgramsCommand(ctx_, command.kind == CommandKind::SwapPrograms,
                                   command.value / kProgramCount, command.value % kProgramCount);
            break;
        case CommandKind::CompareWithFile:
            runCompareCommand(ctx_, std::nullopt);
            break;
        case CommandKind::CompareWithKeptBackup:
            runCompareCommand(ctx_, command.value);
            break;
        case CommandKind::ClearComparison:
            clearComparison(ctx_);
            break;
        case CommandKind::SaveToCollection:
            runSaveToCollectionCommand(ctx_);
            break;
        case CommandKind::LoadEntry:
            runLoadEntryCommand(ctx_, command.value);
            break;
        case CommandKind::PlaceEntry:
            runPlaceEntryCommand(ctx_, command.value / kProgramCount, command.value % kProgramCount);
            break;
        case CommandKind::RenameEntry:
        case CommandKind::SetEntryTags:
        case CommandKind::SetEntryNotes:
            runEditEntryCommand(ctx_, command.kind, command.value);
            break;
        case CommandKind::ExportEntry:
            runExportEntryCommand(ctx_, command.value);
            break;
        case CommandKind::DeleteEntry:
            runDeleteEntryCommand(ctx_, command.value);
            break;
        case CommandKind::ImportFiles:
            runDroppedFiles(ctx_, filesOfDialog(showFileDialog(ctx_, DialogMode::ImportFiles)), -1);
            break;
        case CommandKind::DropFiles:
            runDroppedFiles(ctx_, ui.takeDroppedFiles(), command.value);
            break;
    }
    return true;
}

// ---- thread entry -----------------------------------------------------------------------------

void runDeviceWorker(LinkContext& ctx) {
    std::unique_ptr<MidiPorts> owned;
    if (ctx.ports == nullptr) {
        owned = makePlatformMidiPorts({.amplifierPortTag = ctx.amplifierPortTag});
        ctx.ports = owned.get();
    }
    // Opened here, so that only this thread ever touches it; one that cannot be used leaves the
    // editor without names.
    const std::unique_ptr<ProgramLibrary> library = openWorkerLibrary(ctx);
    {
        DeviceWorker worker(ctx);
        while (!ctx.quit) worker.runPass();
    }
    if (library) ctx.library = nullptr;
    ctx.ports->closePort(kIn);
    ctx.ports->closePort(kOut);
    if (owned) ctx.ports = nullptr;
}

void startDeviceWorker(LinkContext& ctx) {
    // quit is cleared here, before the thread exists, so a stop requested right after the start is
    // never lost.
    ctx.quit = false;
    ctx.worker = std::thread([&ctx] { runDeviceWorker(ctx); });
}

void stopDeviceWorker(LinkContext& ctx) {
    ctx.quit = true;
    ctx.wakeup.notify();
    if (ctx.worker.joinable()) ctx.worker.join();
}

}  // namespace halvard
