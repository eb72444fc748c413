#include "device/librarian/program_backup.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "device/librarian/kept_backups.hpp"
#include "device/link/clock.hpp"
#include "device/link/midi_ports.hpp"
#include "util/hex.hpp"

// Sections: the file format, reading programs, backup, restore, files.

namespace halvard {
namespace {

constexpr size_t kPresetStoreBytes = kShortRequestBytes;

// ---- reading programs -------------------------------------------------------------------------

struct ProgramRead {
    ReplyResult result = ReplyResult::Ok;
    SettingsReply reply;
    std::vector<uint8_t> raw;  // the reply as received
};

// Decodes every queued message (change notices from preset stores may be waiting) and applies each
// as the worker would. With want >= 0, stops after the settings reply for program want and keeps it.
bool drainReplies(LinkContext& ctx, int want = -1, ProgramRead* read = nullptr) {
    if (!ctx.ports) return false;
    for (;;) {
        const std::span<const uint8_t> message = ctx.ports->nextMessage();
        if (message.empty()) return false;
        const Reply reply = decodeReply(message);
        applyReply(ctx, reply);
        const auto* settings = std::get_if<SettingsReply>(&reply);
        if (want >= 0 && settings != nullptr && settings->program == want) {
            read->reply = *settings;
            read->raw.assign(message.begin(), message.end());
            return true;
        }
    }
}

// A settings read for program p, awaited like every exchange (1000 ms in 5 ms steps) but only a
// reply for p ends it. Reports its outcome as readProgramSettings does.
ProgramRead readProgram(LinkContext& ctx, int p) {
    ProgramRead read;
    if (!outputOpen(ctx)) {
        read.result = ReplyResult::NotSent;
        return read;
    }
    if (ctx.quit) {
        read.result = ReplyResult::Abandoned;
        return read;
    }
    std::array<uint8_t, kSettingsReadBytes> request{};
    ctx.reply = 0;
    sendRequest(ctx, std::span<const uint8_t>(request.data(), buildSettingsRead(request, p)));
    Clock& clock = clockOf(ctx);
    const Clock::TimePoint deadline = clock.now() + std::chrono::milliseconds(kAckBudgetMs);
    while (clock.now() < deadline) {
        clock.sleepUntil(std::min(clock.now() + std::chrono::milliseconds(kPollIntervalMs), deadline));
        const bool answered = drainReplies(ctx, p, &read);
        if (ctx.quit) {
            read.result = ReplyResult::Abandoned;
            return read;
        }
        if (answered) {
            ctx.failures = 0;
            return read;
        }
    }
    reportTimeout(ctx);
    read.result = ReplyResult::Timeout;
    return read;
}

// Sends a message that is not answered and gives the amplifier one poll interval, decoding what
// arrives meanwhile. False when the output port is closed or a stop was requested.
bool sendSettled(LinkContext& ctx, std::span<const uint8_t> message) {
    if (!outputOpen(ctx) || ctx.quit) return false;
    sendRequest(ctx, message);
    Clock& clock = clockOf(ctx);
    clock.sleepUntil(clock.now() + std::chrono::milliseconds(kPollIntervalMs));
    drainReplies(ctx);
    return !ctx.quit;
}

void report(const LibrarianProgress& progress, int done, int total) {
    if (progress) progress(done, total);
}

}  // namespace

// ---- the file format --------------------------------------------------------------------------

ParsedProgramFile parseProgramFile(std::span<const uint8_t> b) {
    ParsedProgramFile out;
    const size_t size = b.size();
    const auto fail = [&](size_t offset, std::string reason) {
        out.file = {};
        out.error = ProgramFileError{offset, std::move(reason)};
        return out;
    };
    constexpr const char* kEndsEarly = "the file ends inside a message";

    std::array<bool, kProgramCount> stored{};
    constexpr size_t kNone = SIZE_MAX;
    size_t unstoredAt = kNone;  // offset of a settings write not followed by a store yet
    SettingsWriteMessage unstored{};
    for (size_t at = 0; at < size;) {
        if (b[at] != kSysexStart)
            return fail(at, "0x" + hexByte(b[at]) + " where a message should start (0xF0)");
        if (at + 2 >= size) return fail(size, kEndsEarly);
        if (b[at + 1] != 0x00)
            return fail(at + 1, "not a message of this amplifier (byte 1 is 0x" + hexByte(b[at + 1]) + ")");
        const uint8_t code = b[at + 2];
        if (code != kCodeSettingsWrite && code != kCodePresetStore)
            return fail(at + 2,
                        "code 0x" + hexByte(code) + " is neither a settings write nor a preset store");
        const size_t length = code == kCodeSettingsWrite ? kSettingsWriteBytes : kPresetStoreBytes;
        const size_t end = at + length - 1;
        for (size_t i = at + 3; i < end; ++i) {
            if (i >= size) return fail(size, kEndsEarly);
            if (b[i] == kSysexEnd) return fail(i, "the message ends early");
            if (b[i] > 0x7F) return fail(i, "0x" + hexByte(b[i]) + " is not a 7-bit data byte");
        }
        if (end >= size) return fail(size, kEndsEarly);
        if (b[end] != kSysexEnd)
            return fail(end, "0x" + hexByte(b[end]) + " where the message should end (0xF7)");

        if (code == kCodeSettingsWrite) {
            if (unstoredAt != kNone)
                return fail(at, "the settings write for program " + std::to_string(unstored[3]) +
                                    " is not stored and is not the last message");
            unstoredAt = at;
            std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), kSettingsWriteBytes, unstored.begin());
        } else {
            if (unstoredAt == kNone) return fail(at, "a preset store without a settings write before it");
            const uint8_t p = unstored[3];
            if (stored[p]) return fail(unstoredAt + 3, "program " + std::to_string(p) + " is stored twice");
            stored[p] = true;
            out.file.stored.push_back({p, unstored});
            unstoredAt = kNone;
        }
        at += length;
    }
    if (unstoredAt != kNone) out.file.selection = unstored;
    if (out.file.stored.empty()) return fail(size, "no program is stored in the file");
    return out;
}

std::vector<uint8_t> programFileBytes(const ProgramFile& file) {
    std::vector<uint8_t> bytes;
    std::array<uint8_t, kPresetStoreBytes> store{};
    buildPresetStore(store);
    for (const StoredProgram& s : file.stored) {
        bytes.insert(bytes.end(), s.write.begin(), s.write.end());
        bytes.insert(bytes.end(), store.begin(), store.end());
    }
    if (file.selection) bytes.insert(bytes.end(), file.selection->begin(), file.selection->end());
    return bytes;
}

// ---- backup -----------------------------------------------------------------------------------

BackupResult backupPrograms(LinkContext& ctx, const LibrarianProgress& progress) {
    BackupResult out;
    DeviceMirror& ui = *ctx.ui;
    const int start = std::clamp(ui.program.load(), 0, kProgramCount - 1);
    // The current program as the panel has it, edits not yet stored included: reading other
    // programs drops those edits in the amplifier, so they are written back at the end.
    const ProgramSettings edited = ui.record(start);
    SettingsGlobals globals{ui.midiChannel, ui.bypassLock, ui.reverbTails, ui.mono, ui.irSlot};
    std::array<ProgramSettings, kProgramCount> records{};
    ProgramSettings returnedTo;

    // 128 reads in program order, and one more that returns the amplifier to where it was.
    const EditsWrittenBack written(ctx, start, edited);
    const int total = kProgramCount + 1;
    for (int step = 0; step < total; ++step) {
        const int p = step < kProgramCount ? step : start;
        const ProgramRead read = readProgram(ctx, p);
        if (read.result != ReplyResult::Ok) {
            out.result = read.result;
            out.failedProgram = p;
            return out;
        }
        const SettingsReply& r = read.reply;
        if (step < kProgramCount) records[static_cast<size_t>(p)] = r.settings;
        returnedTo = r.settings;
        copyReplyGlobals(r, globals);
        report(progress, step + 1, total);
    }

    const auto write = [&](int p) {
        SettingsWriteMessage m{};
        buildSettingsWrite(m, p, globals, records[static_cast<size_t>(p)]);
        return m;
    };
    for (int p = 0; p < kProgramCount; ++p) out.file.stored.push_back({static_cast<uint8_t>(p), write(p)});
    out.file.selection = write(start);

    writeBackEdits(ctx, start, edited, returnedTo, globals);
    return out;
}

void writeBackEdits(LinkContext& ctx, int program, const ProgramSettings& edited,
                    const ProgramSettings& returnedTo, const SettingsGlobals& globals) {
    SettingsWriteMessage before{}, after{};
    buildSettingsWrite(before, program, globals, edited);
    buildSettingsWrite(after, program, globals, returnedTo);
    if (edited.loaded == 1 && before != after) {
        ctx.ui->setRecord(program, edited);
        writeProgramSettings(ctx, program);
    }
}

// ---- restore ----------------------------------------------------------------------------------

RestoreResult restorePrograms(LinkContext& ctx, const ProgramFile& file, bool verify,
                              const LibrarianProgress& progress) {
    RestoreResult out;
    const auto stop = [&](int program) {
        out.result = ctx.quit ? ReplyResult::Abandoned : ReplyResult::NotSent;
        out.failedProgram = program;
        return out;
    };
    const int count = static_cast<int>(file.stored.size());
    const int total = verify ? 2 * count : count;
    int done = 0;
    std::array<uint8_t, kPresetStoreBytes> store{};
    buildPresetStore(store);

    for (const StoredProgram& s : file.stored) {
        if (!sendSettled(ctx, s.write) || !sendSettled(ctx, store)) return stop(s.program);
        ++out.sent;
        out.endProgram = s.program;
        report(progress, ++done, total);
    }

    if (verify) {
        for (const StoredProgram& s : file.stored) {
            const ProgramRead read = readProgram(ctx, s.program);
            if (read.result != ReplyResult::Ok) {
                out.result = read.result;
                out.failedProgram = s.program;
                return out;
            }
            out.endProgram = s.program;
            // Compared as the bytes travel: the reply has the settings write's layout from byte 3 on.
            // Bytes the reply lacks (a short reply) count as different.
            const auto compare = [&](int program, std::initializer_list<size_t> at,
                                     const SettingsWriteMessage& w) {
                ProgramMismatch m{program, {}, {}};
                for (const size_t i : at) {
                    m.expected.push_back(w[i]);
                    if (i + 1 < read.raw.size()) m.found.push_back(read.raw[i]);
                }
                if (m.expected != m.found) out.mismatches.push_back(std::move(m));
            };
            compare(s.program, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, s.write);
            // The globals travel in every settings write; the last one sent is what the amplifier
            // keeps, and program 0's reply reports them (byte 15 only in a reply of 18 bytes).
            if (s.program == 0) {
                if (read.raw.size() >= 18)
                    compare(-1, {4, 15}, file.stored.back().write);
                else
                    compare(-1, {4}, file.stored.back().write);
            }
            report(progress, ++done, total);
        }
        out.verified = true;
    }

    if (file.selection) {
        if (!sendSettled(ctx, *file.selection)) return stop((*file.selection)[3]);
        out.endProgram = (*file.selection)[3];
    }
    return out;
}

std::string automaticBackupName(const std::tm& t, uint16_t firmwareVersion, std::string_view reason) {
    char name[96];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d%02d%02d_%.*s%sfirmware-%d.%d.syx", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(reason.size()),
                  reason.data(), reason.empty() ? "" : "_", firmwareVersion >> 8, firmwareVersion & 0xFF);
    return name;
}

bool backupBeforeFirmwareUpdate(LinkContext& ctx, std::string& reason) {
    const BackupResult backup = backupPrograms(ctx);
    if (backup.result != ReplyResult::Ok) {
        reason = "program " + std::to_string(backup.failedProgram) + " could not be read";
        return false;
    }
    const AutomaticBackup kept =
        keepAutomaticBackup(ctx, backup.file, BackupReason::BeforeFirmwareUpdate, true);
    reason = kept.error;
    return kept.kept();
}

}  // namespace halvard
