#pragma once
// The mirror of the amplifier shared by the user-interface thread and the device worker.
//
// Sharing rules:
//   - single-word fields are std::atomic and always read and written whole;
//   - the 128 program records, the six slot names and the texts sit behind one short lock, taken only for a
//     copy or a field edit, never across an exchange, a dialog or a download;
//   - the renderer reads a MirrorView, copied in one go, so one frame never mixes two states of a
//     record or a name.
// Each field names the thread that writes it.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/program_settings.hpp"
#include "util/utf8.hpp"
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
    SendSettings,           // write the current program's settings and the globals
    ReadSettings,           // read the current program's settings
    StorePreset,            // the STORE PRESET button
    ImportIr,               // ask for a WAV file and import it into user IR slot Command::slot
    UploadFactoryIr,        // store factory IR factoryIrIndex in the IR panel's user slot
    ExtractAll,             // ask for a folder and write the factory IRs there as WAV files
    BackupPrograms,         // ask for a file and back up all programs into it
    RestorePrograms,        // ask for a file and restore the programs in it, verified
    RestoreKeptBackup,      // restore the kept backup Command::value, verified, with its names
    RenameProgram,          // give program Command::value the name the mirror holds (renameText)
    CopyProgram,            // write program a over program b, verified (Command::value: movedPrograms)
    SwapPrograms,           // exchange programs a and b, verified (Command::value: movedPrograms)
    CompareWithFile,        // ask for a program file and mark the programs on the amplifier that differ
    CompareWithKeptBackup,  // the same with the kept backup Command::value
    ClearComparison,        // no more marks
    // The collection (Command::value: the entry's id, but where said otherwise).
    SaveToCollection,  // keep the current program, edits included, named with collectionText
    LoadEntry,         // the entry into the current program as an edit (written, not stored)
    PlaceEntry,        // the entry written over a program, verified (value: placeCommand)
    RenameEntry,       // name it collectionText
    SetEntryTags,      // its tags: collectionText, split at commas
    SetEntryNotes,     // its notes: collectionText
    ExportEntry,       // ask for a file and write the entry as a program file
    DeleteEntry,       // asked first
    ImportFiles,       // ask for files and import them as a drop does
    DropFiles,         // the files the mirror holds (takeDroppedFiles); value: the user IR slot
                       // whose row they were dropped on, 0..5, or -1
};

// One request, posted whole in DeviceMirror::command. Only ImportIr, RestoreKeptBackup and the
// PROGRAMS overlay's commands carry a value. The settings commands act on the program the mirror
// holds when the worker takes them, and UploadFactoryIr on the IR panel's slot then: a change notice
// or a lost link between the post and the take moves or clears those, and a program or slot
// captured at the post could have the worker write a record it has since forgotten.
struct Command {
    CommandKind kind = CommandKind::None;
    int32_t value = 0;  // ImportIr: the user IR slot, 0..5; RestoreKeptBackup, CompareWithKeptBackup:
                        // the backup's id;
                        // RenameProgram: the program; CopyProgram, SwapPrograms: both programs

    friend bool operator==(const Command&, const Command&) = default;
};
// The command is posted in one store and taken in one exchange, with no lock behind them.
static_assert(std::atomic<Command>::is_always_lock_free);

constexpr Command importIrCommand(int32_t slot) {
    return Command{CommandKind::ImportIr, slot};
}
// CopyProgram and SwapPrograms carry both programs in one value: a * 128 + b.
constexpr Command moveProgramsCommand(CommandKind kind, int32_t a, int32_t b) {
    return Command{kind, a * kProgramCount + b};
}

// PlaceEntry carries the entry and the program in one value: id * 128 + program (ids below 2^24).
constexpr Command placeCommand(int64_t id, int32_t program) {
    return Command{CommandKind::PlaceEntry, static_cast<int32_t>(id * kProgramCount + program)};
}

// progress values other than a percentage
inline constexpr int32_t kProgressNone = -1;
inline constexpr int32_t kProgressStoring = 200;
inline constexpr int32_t kProgressReading = 300;

// UTF-8 text in fixed storage, so that copying it never allocates. A longer text is cut before a
// whole character, never inside one.
template <size_t MaxBytes>
struct FixedUtf8 {
    static constexpr size_t kMaxBytes = MaxBytes;
    std::array<char, MaxBytes + 1> bytes{};

    std::string_view view() const { return std::string_view(bytes.data()); }
    void assign(std::string_view text) {
        const size_t n = utf8BytesThatFit(text, kMaxBytes);
        std::copy_n(text.begin(), n, bytes.begin());
        bytes[n] = '\0';
    }
};

// The outcome of the last backup or restore, shown in the status line ("" none).
using StatusLine = FixedUtf8<95>;

// The program library (names, kept backups) as the worker found it when it opened it. Anything but
// None and Open: the editor works without names, and the status line says why.
enum class LibraryState : int32_t {
    None = 0,  // none asked for (no file named), or not opened yet
    Open,
    Locked,       // another program holds it
    ReadOnly,     // the file or its folder cannot be written
    Damaged,      // damaged, or not a database at all
    Newer,        // written by a newer version of the editor
    Foreign,      // another program's database
    Unavailable,  // no folder for it is known, or it cannot be created
};

// The current program's name, from the program library (worker).
struct ProgramNameLine {
    int32_t program = -1;  // the program it belongs to; -1 none
    bool stale = false;    // the program has changed on the amplifier since it was named
    FixedUtf8<4 * kProgramNameMaxChars> name;
};

// Every program's name and marks, from the program library, for the PROGRAMS overlay (worker).
struct ProgramListEntry {
    bool stale = false;
    bool differs = false;  // what the amplifier holds is not what the compared file or backup holds
    FixedUtf8<4 * kProgramNameMaxChars> name;  // empty: no name
};
using ProgramNameTable = std::array<ProgramListEntry, kProgramCount>;
// A name typed for a program, with room for one character more than a name may have, so that an
// overlong name reaches the library's check whole enough to be refused rather than cut.
using ProgramNameText = FixedUtf8<4 * (kProgramNameMaxChars + 1)>;

// The newest kept backups, for the right-click menu to offer (worker).
inline constexpr size_t kMenuKeptBackups = 8;
struct KeptBackupEntry {
    int32_t id = 0;       // the library's id; 0 none
    FixedUtf8<63> label;  // "2026-12-07 11:55 \u00B7 Before a restore", local time
};
using KeptBackupList = std::array<KeptBackupEntry, kMenuKeptBackups>;

// What the PROGRAMS overlay compares with: "backup.syx", "the backup of 2026-12-07 11:55"; empty:
// nothing (worker).
using ComparisonLabel = FixedUtf8<63>;

// One entry of the collection as the COLLECTION view lists it (worker).
struct CollectionRow {
    int64_t id = 0;
    std::string name;
    std::string tags;  // joined with ", "
    std::string notes;
    ProgramSettings settings;  // the entry's program (loaded 1)
};

// A program loaded into the current program as an edit (worker): the UI keeps it in its edit
// history, so that undo writes the record it replaced back. serial counts the loads.
struct LoadedEdit {
    uint32_t serial = 0;
    int32_t program = -1;
    ProgramSettings before;
    ProgramSettings after;
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
    LibraryState libraryState = LibraryState::None;
    ProgramNameLine programName;
    // The PROGRAMS overlay: open, its first row shown, and (copied only while it is open) every
    // program's name and record as the mirror holds them, and what they are compared with.
    bool programsOpen = false;
    bool collectionOpen = false;  // the overlay shows the COLLECTION view instead
    int32_t programsTop = 0;
    ProgramNameTable programNames;
    ComparisonLabel comparedWith;
    std::array<ProgramSettings, kProgramCount> programs;
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
    std::atomic<bool> programsOpen{false};    // the PROGRAMS overlay
    std::atomic<int32_t> programsTop{0};      // the program of its first row
    std::atomic<bool> collectionOpen{false};  // the COLLECTION view (in the overlay's place)
    // Counts the changes of the collection's rows (worker), so that the UI copies them only then.
    std::atomic<uint32_t> collectionVersion{0};
    // Why there is no amplifier, while linkState is NoDevice (worker): how many MIDI ports, inputs
    // and outputs together, the last scan saw (-1 before the first), and whether the amplifier's
    // port is there but another program has it open. A mirror reset leaves both.
    std::atomic<int32_t> portsSeen{-1};
    std::atomic<bool> portInUse{false};
    // The program library as the worker opened it (worker); a mirror reset leaves it.
    std::atomic<LibraryState> libraryState{LibraryState::None};
    // Counts what the editor did not do itself (worker): a read of a program it holds that differs
    // from what it holds (the amplifier was changed at its own panel, by MIDI, or by a store that
    // went wrong), and every mirror reset. The user's edit history is dropped when it moves.
    std::atomic<uint32_t> outsideChanges{0};

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
    // Set with every post of SendSettings, and taken by the worker with the next command it takes:
    // an edit whose command a later one replaced while the worker was held up (in the folder
    // dialog, say) is still written, before that command, so that a store stores it.
    std::atomic<bool> settingsUnsent{false};

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

    // The current program's name (worker); a mirror reset clears it.
    ProgramNameLine programName() const;
    void setProgramName(const ProgramNameLine& line);
    // Every program's name and marks (worker); a mirror reset leaves them.
    ProgramNameTable programNames() const;
    void setProgramNames(const ProgramNameTable& table);
    // What the overlay's marks compare with (worker); a mirror reset clears it.
    ComparisonLabel comparedWith() const;
    void setComparedWith(std::string_view label);
    // The name a RenameProgram command gives (UI, before it posts the command).
    ProgramNameText renameText() const;
    void setRenameText(std::string_view text);
    // The newest kept backups, newest first (worker); a mirror reset leaves them.
    KeptBackupList keptBackups() const;
    void setKeptBackups(const KeptBackupList& list);

    // The collection's rows (worker writes, the UI copies them when collectionVersion moves).
    std::vector<CollectionRow> collectionRows() const;
    void setCollectionRows(std::vector<CollectionRow> rows);
    // The text a collection command uses (a name, tags, notes): the UI sets it before it posts.
    std::string collectionText() const;
    void setCollectionText(std::string_view text);
    // The files of a DropFiles command: the UI sets them before it posts, the worker takes them.
    std::vector<std::string> takeDroppedFiles();
    void setDroppedFiles(std::vector<std::string> files);
    // The last program loaded as an edit (worker).
    LoadedEdit loadedEdit() const;
    void setLoadedEdit(const LoadedEdit& edit);

    MirrorView view() const;

    // Forgets everything learned from the amplifier. Leaves linkState, command, irSlot, reverbTails
    // and auditionOn as they are.
    void resetDeviceMirror();

private:
    mutable std::mutex recordsMutex_;
    std::array<ProgramSettings, kProgramCount> programs_{};
    std::array<SlotName, kUserIrSlotCount> userIrSlotNames_{};
    StatusLine status_;
    ProgramNameLine programName_;
    KeptBackupList keptBackups_;
    ProgramNameTable programNames_;
    ComparisonLabel comparedWith_;
    ProgramNameText renameText_;
    std::vector<CollectionRow> collectionRows_;
    std::string collectionText_;
    std::vector<std::string> droppedFiles_;
    LoadedEdit loadedEdit_;
};

}  // namespace halvard
