#pragma once
// The mirror of the amplifier shared by the user-interface thread and the device worker.
//
// Sharing rules:
//   - single-word fields are std::atomic and always read and written whole;
//   - the 128 program records and the six slot names sit behind one short lock, taken only for a
//     copy or a field edit, never across an exchange, a dialog or a download;
//   - the renderer reads a MirrorView, copied in one go, so one frame never mixes two states of a
//     record or a name.
// Each field names the thread that writes it.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "model/program_settings.hpp"

namespace halvard {

enum class LinkState : int32_t {
    NoDevice = 0,
    Connected = 1,
    Busy = 2,
    Error = 3,
};

// Codes posted in DeviceMirror::command. Values 14 and above are taken and discarded.
enum class Command : int32_t {
    None = 0,
    SendSettings = 1,
    ReadSettings = 2,
    StorePreset = 3,
    ImportIrSlot1 = 4,  // 4..9: import a WAV file into user slot (code - 4)
    ImportIrSlot6 = 9,
    UploadFactoryIr = 10,
    ExtractAll = 11,
    BackupPrograms = 12,   // ask for a file and back up all programs into it
    RestorePrograms = 13,  // ask for a file and restore the programs in it, verified
};

constexpr int32_t importIrCommand(int slot) {
    return static_cast<int32_t>(Command::ImportIrSlot1) + slot;
}

// progress values other than a percentage
inline constexpr int32_t kProgressNone = -1;
inline constexpr int32_t kProgressStoring = 200;
inline constexpr int32_t kProgressReading = 300;

// The outcome of the last backup or restore, shown in the status line ("" none). Fixed storage, so
// that copying it never allocates.
struct StatusLine {
    static constexpr size_t kMaxBytes = 95;
    std::array<char, kMaxBytes + 1> bytes{};

    std::string_view view() const { return std::string_view(bytes.data()); }
    void assign(std::string_view text);
};

// A consistent copy of what the panel draws from.
struct MirrorView {
    LinkState linkState = LinkState::NoDevice;
    int32_t progress = kProgressNone;
    uint16_t firmwareVersion = 0;
    uint16_t availableFirmware = 0;
    int32_t program = 0;
    int32_t midiChannel = 0;
    int32_t bypassLock = 0;
    int32_t mono = 0;
    int32_t irSlot = 0;
    int32_t reverbTails = 0;
    int32_t irPanelSlot = 0;
    int32_t ccListOpen = 0;
    int32_t factoryListOpen = 0;
    int32_t factoryIrIndex = 0;
    int32_t auditionOn = 0;
    int32_t portsSeen = -1;
    bool portInUse = false;
    ProgramSettings current;  // programs[program]
    std::array<SlotName, kUserIrSlotCount> userIrSlotNames;
    StatusLine status;
};

class DeviceMirror {
public:
    DeviceMirror() { resetDeviceMirror(); }
    DeviceMirror(const DeviceMirror&) = delete;
    DeviceMirror& operator=(const DeviceMirror&) = delete;

    std::atomic<LinkState> linkState{LinkState::NoDevice};  // worker
    std::atomic<int32_t> command{0};                        // UI posts, worker takes
    std::atomic<uint16_t> firmwareVersion{0};               // worker
    std::atomic<uint16_t> availableFirmware{0};             // worker
    std::atomic<int32_t> progress{kProgressNone};           // worker
    std::atomic<int32_t> program{0};                        // UI (arrows, wheel), worker (change notice)
    // Globals: the worker decodes them, the UI edits them.
    std::atomic<int32_t> midiChannel{0};
    std::atomic<int32_t> bypassLock{0};
    std::atomic<int32_t> mono{0};
    std::atomic<int32_t> irSlot{0};
    std::atomic<int32_t> reverbTails{0};
    // Panel state: the UI writes it, the worker reads it and resets it with the mirror.
    std::atomic<int32_t> irPanelSlot{0};  // 0 closed, 1..6 open for user slot n - 1
    std::atomic<int32_t> ccListOpen{0};
    std::atomic<int32_t> factoryListOpen{0};
    std::atomic<int32_t> factoryIrIndex{0};
    std::atomic<int32_t> auditionOn{0};
    // Why there is no amplifier, while linkState is NoDevice (worker): how many MIDI ports, inputs
    // and outputs together, the last scan saw (-1 before the first), and whether the amplifier's
    // port is there but another program has it open. A mirror reset leaves both.
    std::atomic<int32_t> portsSeen{-1};
    std::atomic<bool> portInUse{false};

    // One slot: a command posted while another is pending replaces it.
    void postCommand(int32_t code) { command.store(code); }
    void postCommand(Command code) { postCommand(static_cast<int32_t>(code)); }
    // One atomic exchange, so that a command posted while the worker takes another is never lost.
    int32_t takeCommand() { return command.exchange(0); }

    // Program records, 0..127; an index outside that range reads an empty record and writes nothing.
    ProgramSettings record(int p) const;
    void setRecord(int p, const ProgramSettings& settings);
    // Edits one record in place under the lock; edit must be short and must not block.
    template <class Edit>
    void editRecord(int p, Edit&& edit) {
        if (p < 0 || p >= kProgramCount) return;
        std::lock_guard lock(recordsMutex_);
        edit(programs_[static_cast<size_t>(p)]);
    }

    // User IR slot names, 0..5; an index outside that range reads an empty name and writes nothing.
    SlotName slotName(int slot) const;
    void setSlotName(int slot, const SlotName& name);

    // The status line's text; the worker writes it, a mirror reset leaves it (an error that ends a
    // backup resets the mirror, and its message must stay on screen).
    StatusLine statusLine() const;
    void setStatusLine(std::string_view text);

    MirrorView view() const;

    // Forgets everything learned from the amplifier. Leaves linkState, command, irSlot, reverbTails
    // and auditionOn as they are.
    void resetDeviceMirror();

private:
    mutable std::mutex recordsMutex_;
    std::array<ProgramSettings, kProgramCount> programs_{};
    std::array<SlotName, kUserIrSlotCount> userIrSlotNames_{};
    StatusLine status_;
};

}  // namespace halvard
