#pragma once
// The amplifier itself: its state and what it does with each message from the editor. No time and
// no ports here: the emulator around it decides when replies leave and when the ports come and go.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "amp_protocol.hpp"
#include "transfer.hpp"

namespace halvard::emulator {

// Malformed copies of each reply, sent after the genuine one (fault injection). Bits.
enum MalformedKind : unsigned {
    kMalformedByte1 = 1u << 0,  // byte 1 is not 0x00
    kMalformedShort = 1u << 1,  // one byte shorter than the editor accepts (settings and slot name replies)
    kMalformedRange = 1u << 2,  // program above 127 or slot above 5
    kMalformedStray = 1u << 3,  // stray bytes: a control change, an unknown code, a lone F7 ...
    kMalformedAll = 0x0F,
};

// Faults that change what the amplifier answers.
struct AmpFaults {
    int ignoreCode = -1;     // messages with this code are dropped unseen; -1 none
    int stopAckAfter = -1;   // acknowledge only the first N chunks of each transfer, and not its store
    unsigned malformed = 0;  // MalformedKind bits
    bool hung = false;       // answers nothing and does nothing but restart when asked
    int alterStoreOf = -1;   // the next preset store of this program keeps it with loop bypass flipped
};

struct StoredIr {
    std::vector<uint8_t> image;
    std::string name;  // the name as the store message carried it
    int stores = 0;    // successful stores into this slot so far
};

struct AmpState {
    uint16_t version = 0x0107;  // major * 256 + minor
    uint8_t program = 0;        // the current program: the last one the editor read or wrote
    Globals globals;
    std::array<ProgramRecord, kPrograms> records{};  // the stored programs
    ProgramRecord edit{};  // the current program as written since it was selected; a preset store keeps it
    std::array<std::string, kUserSlots> slotNames;  // as the amplifier reports them ("2_CLEAN")
    std::array<std::optional<StoredIr>, kUserSlots> irs;
    int irStores = 0;
    int presetStores = 0;
    std::optional<std::vector<uint8_t>> firmwareImage;  // the last firmware image stored
    uint16_t pendingVersion = 0;                        // version that takes over at the next restart; 0 none
    int firmwareStores = 0;
};

// What one message from the editor led to.
struct AmpOutcome {
    std::vector<Message> replies;      // in the order they leave
    bool restart = false;              // close the ports, stay away a moment, come back
    bool malformed = false;            // the message was not one of the editor's
    int storedIrSlot = -1;             // an IR store into this slot succeeded
    bool storedFirmware = false;       // a firmware store succeeded
    std::vector<std::string> reports;  // faults found, for standard error
};

// The amplifier as delivered: varied but valid programs, globals with something set, six slot
// names in the forms the amplifier uses (most with the "n_" prefix, one in lower case, one empty).
AmpState factoryState();
ProgramRecord factoryRecord(int program);

class VirtualAmp {
public:
    VirtualAmp() : VirtualAmp(factoryState()) {}
    explicit VirtualAmp(AmpState initial);

    AmpOutcome receive(std::span<const uint8_t> message);

    // Makes p the current program, as a settings read for another program does: edits of the
    // program left behind that were not stored are lost.
    void selectProgram(uint8_t p);
    // Program p as a settings read would report it: the edited copy for the current program.
    const ProgramRecord& reported(uint8_t p) const {
        return p == state.program ? state.edit : state.records[p];
    }
    // Replaces stored program p (and the edited copy when p is current).
    void setRecord(uint8_t p, const ProgramRecord& record);

    // Coming back from a restart: a stored firmware image takes over, unfinished transfers are gone,
    // a hung amplifier answers again.
    void restart();

    AmpState state;
    AmpFaults faults;

private:
    struct Transfer {
        explicit Transfer(size_t capacity) : chunks(capacity) {}
        ChunkAssembler chunks;
        int seen = 0;  // chunks since the transfer began, faulty ones included
    };

    void takeChunk(Transfer& t, const Request& r, AmpOutcome& out);
    bool acknowledging(const Transfer& t) const;
    void storeIr(const Request& r, AmpOutcome& out);
    void storeFirmware(const Request& r, AmpOutcome& out);
    void reply(Message m, AmpOutcome& out) const;

    Transfer ir_;
    Transfer firmware_;
};

// Plays a program file (settings writes and preset stores, back to back, as a backup holds them)
// into the state, as if the editor had sent it. Returns an error text, empty on success.
std::string playProgramFile(AmpState& state, std::span<const uint8_t> file);

// The malformed copies of one genuine reply for the kinds set in kinds.
std::vector<Message> malformedCopies(const Message& genuine, unsigned kinds);

}  // namespace halvard::emulator
