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
#include "util/wakeup.hpp"

namespace halvard {

enum class LinkState : int32_t {
    NoDevice = 0,
    Connected = 1,
    Busy = 2,
    Error = 3,
};

// What the user-interface thread asks the device worker to do.
enum class CommandKind : int32_t {
    None = 0,
    SendSettings,     // write the current program's settings and the globals
    ReadSettings,     // read the current program's settings
    StorePreset,      // the STORE PRESET button
    ImportIr,         // ask for a WAV file and import it into user IR slot Command::slot
    UploadFactoryIr,  // store factory IR factoryIrIndex in the IR panel's user slot
    ExtractAll,       // ask for a folder and write the factory IRs there as WAV files
    BackupPrograms,   // ask for a file and back up all programs into it
    RestorePrograms,  // ask for a file and restore the programs in it, verified
};

// One request, posted whole in DeviceMirror::command. Only ImportIr carries a value, its slot. The
// settings commands act on the program the mirror holds when the worker takes them, and
// UploadFactoryIr on the IR panel's slot then: a change notice or a lost link between the post and
// the take moves or clears those, and a program or slot captured at the post could have the worker
// write a record it has since forgotten.
struct Command {
    CommandKind kind = CommandKind::None;
    int32_t slot = 0;  // ImportIr: the user IR slot, 0..5

    friend bool operator==(const Command&, const Command&) = default;
};
// The command is posted in one store and taken in one exchange, with no lock behind them.
static_assert(std::atomic<Command>::is_always_lock_free);

constexpr Command importIrCommand(int32_t slot) {
    return Command{CommandKind::ImportIr, slot};
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
    bool ccListOpen = false;
    bool factoryListOpen = false;
    int32_t factoryIrIndex = 0;
    bool auditionOn = false;
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
    std::atomic<Command> command{};                         // UI posts, worker takes
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
    std::atomic<bool> ccListOpen{false};
    std::atomic<bool> factoryListOpen{false};
    std::atomic<int32_t> factoryIrIndex{0};
    std::atomic<bool> auditionOn{false};
    // Why there is no amplifier, while linkState is NoDevice (worker): how many MIDI ports, inputs
    // and outputs together, the last scan saw (-1 before the first), and whether the amplifier's
    // port is there but another program has it open. A mirror reset leaves both.
    std::atomic<int32_t> portsSeen{-1};
    std::atomic<bool> portInUse{false};

    // Told of every post, so that a worker asleep takes the command at once: set by the device
    // worker before its first pass and cleared after its last (null: none).
    std::atomic<Wakeup*> postNotice{nullptr};

    // One slot: a command posted while another is pending replaces it.
    void postCommand(Command c) {
        command.store(c);
        if (Wakeup* notice = postNotice.load()) notice->notify();
    }
    void postCommand(CommandKind kind) { postCommand(Command{kind}); }
    // One atomic exchange, so that a command posted while the worker takes another is never lost.
    Command takeCommand() { return command.exchange(Command{}); }

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
