#include "emulator.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace halvard::emulator {

// Sections: delivery and the loop; receiving and sending; ports; dumps and logs; control commands.

namespace {

using std::chrono::milliseconds;

constexpr size_t kReceivedKept = 100000;  // received messages kept for "received K"
constexpr auto kIdleWake = std::chrono::seconds(1);
constexpr auto kReopenRetry = std::chrono::seconds(1);

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The first word and what follows it.
std::pair<std::string_view, std::string_view> splitWord(std::string_view s) {
    s = trim(s);
    const size_t space = s.find_first_of(" \t");
    if (space == std::string_view::npos) return {s, {}};
    return {s.substr(0, space), trim(s.substr(space + 1))};
}

std::optional<int> parseNumber(std::string_view text, int lowest, int highest) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

std::string hexOrDash(std::string_view bytes) {
    if (bytes.empty()) return "-";
    return toHex(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string error(std::string_view text) {
    return "error " + std::string(text);
}

// Details after the message's name in the protocol log.
std::string details(const Message& m, bool fromEditor) {
    if (m.size() < 4 || m[0] != 0xF0 || m[1] != 0x00) return {};
    const uint8_t code = m[2];
    char text[96] = "";
    if (fromEditor) {
        const std::optional<Request> r = parseRequest(m);
        if (!r) return "(malformed)";
        switch (r->kind) {
            case Request::Kind::SettingsRead:
            case Request::Kind::SettingsWrite:
                std::snprintf(text, sizeof text, "program %d", r->program);
                break;
            case Request::Kind::SlotNameRead:
                std::snprintf(text, sizeof text, "slot %d", r->slot);
                break;
            case Request::Kind::IrChunk:
            case Request::Kind::FirmwareChunk:
                std::snprintf(text, sizeof text, "offset 0x%05X", r->offset);
                break;
            case Request::Kind::Store:
                if (r->target == kFirmwareStoreTarget) {
                    std::snprintf(text, sizeof text, "firmware \"%s\"", storeName(r->name).c_str());
                } else {
                    std::snprintf(text, sizeof text, "slot %d, %d bytes, \"%s\"", r->target, r->size,
                                  storeName(r->name).c_str());
                }
                break;
            default:
                break;
        }
    } else if (code == kSettingsRead) {
        std::snprintf(text, sizeof text, "program %d", m[3]);
    } else if (code == kSlotNameRead && m.size() >= 70) {
        const std::string name(m.begin() + 5, std::find(m.begin() + 5, m.begin() + 69, uint8_t{0}));
        std::snprintf(text, sizeof text, "slot %d \"%s\"", m[4], name.c_str());
    } else if (code == kVersionRead && m.size() >= 6) {
        std::snprintf(text, sizeof text, "%d.%d", m[3], m[4]);
    } else if (code == kChangeNotice && m.size() == 5) {
        std::snprintf(text, sizeof text, "program %d", m[3]);
    }
    return text;
}

}  // namespace

Emulator::Emulator(const EmulatorOptions& options, AmpPorts& ports, std::ostream& out, std::ostream& err)
    : options_(options),
      ports_(ports),
      out_(out),
      err_(err),
      amp_(initialState(options)),
      faults_(options.faults) {
    amp_.faults = faults_.amp;
    ports_.setReceiver([this](Message m) { deliverMidi(std::move(m)); });
}

// ---- delivery and the loop

void Emulator::deliverMidi(Message message) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({true, std::move(message), {}});
    }
    inboxReady_.notify_one();
}

void Emulator::deliverControl(std::string line) {
    {
        std::lock_guard lock(inboxMutex_);
        inbox_.push_back({false, {}, std::move(line)});
    }
    inboxReady_.notify_one();
}

void Emulator::requestStop() {
    {
        std::lock_guard lock(inboxMutex_);
        stop_ = true;
    }
    inboxReady_.notify_one();
}

bool Emulator::stopRequested() const {
    std::lock_guard lock(inboxMutex_);
    return stop_;
}

bool Emulator::run() {
    if (!start(Clock::now())) return false;
    for (;;) {
        const TimePoint due = step(Clock::now());
        std::unique_lock lock(inboxMutex_);
        inboxReady_.wait_until(lock, due, [this] { return stop_ || !inbox_.empty(); });
        if (stop_) break;
    }
    closePorts("stopped", Clock::now());
    return true;
}

bool Emulator::start(TimePoint now) {
    startTime_ = now;
    if (faults_.unplugAfterMs >= 0) unplugAt_ = now + milliseconds(faults_.unplugAfterMs);
    if (faults_.noticeEveryMs > 0) nextNotice_ = now + milliseconds(faults_.noticeEveryMs);
    return openPorts(now);
}

Emulator::TimePoint Emulator::step(TimePoint now) {
    std::deque<Event> events;
    {
        std::lock_guard lock(inboxMutex_);
        events.swap(inbox_);
    }
    for (const Event& e : events) {
        if (e.midi) {
            if (ports_.isOpen()) receive(e.message, now);  // late arrivals from ports just closed are dropped
        } else if (const std::string reply = control(e.line, now); !reply.empty()) {
            out_ << reply << '\n' << std::flush;
        }
    }

    if (unplugAt_ && now >= *unplugAt_) {
        unplugAt_.reset();
        closePorts("unplugged", now);
        restarting_ = false;
        if (faults_.replugAfterMs >= 0) plugAt_ = now + milliseconds(faults_.replugAfterMs);
    }
    if (plugAt_ && now >= *plugAt_) {
        plugAt_.reset();
        if (restarting_) {
            amp_.restart();
            restarting_ = false;
            logEvent("back from the restart, firmware " + versionText(amp_.state.version));
        }
        if (!openPorts(now)) plugAt_ = now + kReopenRetry;
    }
    if (nextNotice_ && now >= *nextNotice_) {
        if (ports_.isOpen() && !amp_.faults.hung) transmit(changeNotice(std::nullopt));
        nextNotice_ = now + milliseconds(std::max(faults_.noticeEveryMs, 1));
    }
    while (!outbox_.empty() && outbox_.front().first <= now) {
        transmit(outbox_.front().second);
        outbox_.pop_front();
    }

    TimePoint due = now + kIdleWake;
    if (!outbox_.empty()) due = std::min(due, outbox_.front().first);
    for (const auto& t : {nextNotice_, unplugAt_, plugAt_}) {
        if (t) due = std::min(due, *t);
    }
    return due;
}

// ---- receiving and sending

void Emulator::receive(const Message& m, TimePoint now) {
    logMessage(true, m);
    ++receivedTotal_;
    if (m.size() >= 3) ++receivedByCode_[m[2]];
    received_.push_back(m);
    if (received_.size() > kReceivedKept) {
        received_.pop_front();
        ++receivedDropped_;
    }
    dispatch(amp_.receive(m), now);
}

void Emulator::dispatch(const AmpOutcome& o, TimePoint now) {
    for (const std::string& r : o.reports) report(r);
    if (o.malformed) ++malformedTotal_;
    if (o.storedIrSlot >= 0) {
        const StoredIr& ir = *amp_.state.irs[static_cast<size_t>(o.storedIrSlot)];
        logEvent("IR stored in slot " + std::to_string(o.storedIrSlot) + ": " +
                 std::to_string(ir.image.size()) + " bytes, " + inQuotes(ir.name));
        dumpIr(o.storedIrSlot);
    }
    if (o.storedFirmware) {
        logEvent("firmware " + versionText(amp_.state.pendingVersion) + " stored; it runs after a restart");
        dumpFirmware();
    }

    // Replies keep their order, also when some of them wait for a delay.
    TimePoint when = now + milliseconds(faults_.delayMs);
    if (!outbox_.empty()) when = std::max(when, outbox_.back().first);
    for (const Message& reply : o.replies) {
        if (faults_.delayMs == 0 && outbox_.empty())
            transmit(reply);
        else
            outbox_.emplace_back(when, reply);
    }

    if (o.restart) {
        closePorts("restart requested", now);
        restarting_ = true;
        plugAt_ = now + milliseconds(options_.restartAwayMs);
    }
}

void Emulator::transmit(const Message& m) {
    if (!ports_.isOpen()) return;
    logMessage(false, m);
    if (!ports_.send(m)) report("could not send " + toHex(m, true));
    ++sentTotal_;
}

// ---- ports

bool Emulator::openPorts(TimePoint) {
    std::string why;
    if (ports_.open(why)) {
        logEvent("ports open: " + ports_.describe());
        return true;
    }
    report("cannot open the ports: " + why);
    return false;
}

void Emulator::closePorts(std::string_view why, TimePoint) {
    if (!ports_.isOpen()) return;
    ports_.close();
    outbox_.clear();
    logEvent("ports closed (" + std::string(why) + ")");
}

// ---- dumps and logs

void Emulator::dumpIr(int slot) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d-slot%d.wav", dumpSequence_ + 1, slot);
    const std::string path = writeDump(name, amp_.state.irs[static_cast<size_t>(slot)]->image);
    if (!path.empty()) irFiles_[static_cast<size_t>(slot)] = path;
}

void Emulator::dumpFirmware() {
    char name[32];
    std::snprintf(name, sizeof name, "%03d-firmware.bin", dumpSequence_ + 1);
    const std::string path = writeDump(name, *amp_.state.firmwareImage);
    if (!path.empty()) firmwareFile_ = path;
}

std::string Emulator::writeDump(const std::string& name, const std::vector<uint8_t>& bytes) {
    if (options_.dumpDir.empty()) return {};
    std::error_code ec;
    std::filesystem::create_directories(options_.dumpDir, ec);
    const std::filesystem::path path = std::filesystem::path(options_.dumpDir) / name;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        report("could not write " + path.string());
        return {};
    }
    ++dumpSequence_;
    return path.string();
}

std::string Emulator::stamp() const {
    const double seconds = std::chrono::duration<double>(Clock::now() - startTime_).count();
    char text[32];
    std::snprintf(text, sizeof text, "%9.3f", seconds);
    return text;
}

void Emulator::logMessage(bool fromEditor, const Message& m) {
    if (options_.log == LogMode::Off) return;
    std::string hex;
    if (options_.log == LogMode::Brief && m.size() > 24) {
        hex = toHex(std::span(m).first(12), true) + " .. " + toHex(std::span(m).last(1), true) + " (" +
              std::to_string(m.size()) + " bytes)";
    } else {
        hex = toHex(m, true);
    }
    std::string line = stamp() + (fromEditor ? " <- " : " -> ") + hex;
    if (const std::string_view name = messageName(m, fromEditor); !name.empty()) {
        line += "  " + std::string(name);
        if (const std::string more = details(m, fromEditor); !more.empty()) line += " " + more;
    }
    out_ << line << '\n' << std::flush;
}

void Emulator::logEvent(std::string_view text) {
    if (options_.log == LogMode::Off) return;
    out_ << stamp() << " -- " << text << '\n' << std::flush;
}

void Emulator::report(std::string_view text) {
    err_ << "halvard-amp-emulator: " << text << '\n' << std::flush;
}

// ---- control commands

std::string Emulator::control(std::string_view line, TimePoint now) {
    const auto [verb, args] = splitWord(line);
    if (verb.empty()) return {};
    if (verb == "help") {
        return "ok commands: status | record P | set-record P HEX10 | records | globals | set-globals HEX2 | "
               "program "
               "[P] | "
               "slot S | set-slot S [TEXT] | ir S | image S | firmware | counts | received K | clear | "
               "notice [P] | send HEX | unplug [MS] | plug | restart | fault NAME VALUE | fault none | quit";
    }
    if (verb == "status") return commandStatus();
    if (verb == "counts") return commandCounts();
    if (verb == "received") return commandReceived(args);
    if (verb == "records") {
        std::string hex;
        for (const ProgramRecord& r : amp_.state.records) hex += toHex(r);
        return "ok records " + hex;
    }
    if (verb == "record" || verb == "set-record" || verb == "globals" || verb == "set-globals" ||
        verb == "program") {
        return commandRecord(verb, args);
    }
    if (verb == "slot" || verb == "set-slot") return commandSlot(line);
    if (verb == "ir" || verb == "image") return commandIr(verb, args);
    if (verb == "firmware") {
        const AmpState& s = amp_.state;
        return "ok firmware version=" + versionText(s.version) +
               " pending=" + (s.pendingVersion ? versionText(s.pendingVersion) : "-") +
               " stores=" + std::to_string(s.firmwareStores) +
               " size=" + std::to_string(s.firmwareImage ? s.firmwareImage->size() : 0) +
               " file=" + (firmwareFile_.empty() ? "-" : firmwareFile_);
    }
    if (verb == "clear") {
        received_.clear();
        receivedDropped_ = 0;
        receivedByCode_.fill(0);
        receivedTotal_ = malformedTotal_ = sentTotal_ = 0;
        return "ok cleared";
    }
    if (verb == "notice") {
        std::optional<uint8_t> program;
        if (!args.empty()) {
            const std::optional<int> p = parseNumber(args, 0, kPrograms - 1);
            if (!p) return error("notice wants a program 0..127 or nothing");
            program = static_cast<uint8_t>(*p);
        }
        if (!ports_.isOpen()) return error("the ports are closed");
        if (program) amp_.selectProgram(*program);
        transmit(changeNotice(program));
        return "ok notice sent";
    }
    if (verb == "send") {
        const std::optional<std::vector<uint8_t>> bytes = fromHex(args);
        if (!bytes || bytes->empty()) return error("send wants hex bytes, such as F0 00 03 F7");
        if (!ports_.isOpen()) return error("the ports are closed");
        transmit(*bytes);
        return "ok sent " + std::to_string(bytes->size()) + " bytes";
    }
    if (verb == "unplug") {
        std::optional<int> ms;
        if (!args.empty() && !(ms = parseNumber(args, 0, 24 * 3600 * 1000)))
            return error("unplug wants milliseconds");
        closePorts("unplugged by command", now);
        restarting_ = false;
        plugAt_.reset();
        if (ms) plugAt_ = now + milliseconds(*ms);
        return "ok unplugged";
    }
    if (verb == "plug") {
        if (ports_.isOpen()) return "ok already open";
        plugAt_.reset();
        if (restarting_) {
            amp_.restart();
            restarting_ = false;
        }
        return openPorts(now) ? "ok plugged" : error("cannot open the ports");
    }
    if (verb == "restart") {
        AmpOutcome asked;
        asked.restart = true;
        dispatch(asked, now);
        return "ok restarting";
    }
    if (verb == "fault") return commandFault(args, now);
    if (verb == "quit") {
        requestStop();
        return "ok bye";
    }
    return error("unknown command \"" + std::string(verb) + "\" (try help)");
}

std::string Emulator::commandStatus() const {
    const AmpState& s = amp_.state;
    return std::string("ok status ports=") + (ports_.isOpen() ? "open" : "closed") +
           " version=" + versionText(s.version) + " program=" + std::to_string(s.program) +
           " globals=" + toHex(std::array{s.globals.byte4, s.globals.byte15}) +
           " hung=" + (amp_.faults.hung ? "1" : "0") + " preset-stores=" + std::to_string(s.presetStores) +
           " ir-stores=" + std::to_string(s.irStores) +
           " firmware-stores=" + std::to_string(s.firmwareStores);
}

std::string Emulator::commandCounts() const {
    std::string reply = "ok counts received=" + std::to_string(receivedTotal_) +
                        " malformed=" + std::to_string(malformedTotal_) +
                        " sent=" + std::to_string(sentTotal_);
    for (size_t code = 0; code < receivedByCode_.size(); ++code) {
        if (receivedByCode_[code] == 0) continue;
        reply +=
            " " + toHex(std::array{static_cast<uint8_t>(code)}) + "=" + std::to_string(receivedByCode_[code]);
    }
    return reply;
}

std::string Emulator::commandReceived(std::string_view arg) const {
    const std::optional<int> k = parseNumber(arg, -receivedTotal_, receivedTotal_ - 1);
    if (!k)
        return error("received wants an index 0.." + std::to_string(receivedTotal_ - 1) +
                     " or -1 for the last");
    const long index = *k >= 0 ? *k : receivedTotal_ + *k;
    if (index < static_cast<long>(receivedDropped_))
        return error("message " + std::to_string(index) + " is no longer kept");
    const Message& m = received_[static_cast<size_t>(index) - receivedDropped_];
    return "ok received " + std::to_string(index) + " " + toHex(m);
}

std::string Emulator::commandSlot(std::string_view line) {
    // Parsed from the whole line: a slot name may have blanks, also leading ones.
    const auto [verb, rest] = splitWord(line);
    const size_t space = rest.find(' ');
    const std::optional<int> slot = parseNumber(rest.substr(0, space), 0, kUserSlots - 1);
    if (!slot) return error(std::string(verb) + " wants a slot 0..5");
    std::string& name = amp_.state.slotNames[static_cast<size_t>(*slot)];
    if (verb == "set-slot") {
        // The name is everything after the blank that follows the slot number, blanks included.
        std::string text;
        if (space != std::string_view::npos) {
            text = line.substr(static_cast<size_t>(rest.data() - line.data()) + space + 1);
        }
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
        if (text.size() > kNameBytes) return error("a slot name has at most 64 bytes");
        if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) > 0x7F; })) {
            return error("a slot name travels as 7-bit bytes");
        }
        name = text;
    }
    return "ok slot " + std::to_string(*slot) + " " + hexOrDash(name) + " " + name;
}

std::string Emulator::commandIr(std::string_view verb, std::string_view arg) const {
    const std::optional<int> slot = parseNumber(arg, 0, kUserSlots - 1);
    if (!slot) return error(std::string(verb) + " wants a slot 0..5");
    const std::optional<StoredIr>& ir = amp_.state.irs[static_cast<size_t>(*slot)];
    if (!ir) return error("nothing stored in slot " + std::to_string(*slot) + " since start");
    if (verb == "image") return "ok image " + std::to_string(*slot) + " " + toHex(ir->image);
    const std::string& file = irFiles_[static_cast<size_t>(*slot)];
    return "ok ir " + std::to_string(*slot) + " size=" + std::to_string(ir->image.size()) +
           " stores=" + std::to_string(ir->stores) + " name=" + hexOrDash(ir->name) +
           " file=" + (file.empty() ? "-" : file);
}

std::string Emulator::commandRecord(std::string_view verb, std::string_view args) {
    AmpState& s = amp_.state;
    if (verb == "program") {
        if (!args.empty()) {
            const std::optional<int> p = parseNumber(args, 0, kPrograms - 1);
            if (!p) return error("program wants 0..127");
            amp_.selectProgram(static_cast<uint8_t>(*p));
        }
        return "ok program " + std::to_string(s.program);
    }
    if (verb == "globals" || verb == "set-globals") {
        if (verb == "set-globals") {
            const std::optional<std::vector<uint8_t>> b = fromHex(args);
            if (!b || b->size() != 2 || (*b)[0] > 0x7F || (*b)[1] > 0x7F) {
                return error("set-globals wants bytes 4 and 15 of the settings reply in hex, such as 4305");
            }
            s.globals = {(*b)[0], (*b)[1]};
        }
        const Globals& g = s.globals;
        return "ok globals " + toHex(std::array{g.byte4, g.byte15}) +
               " midi-channel=" + std::to_string(g.byte4 & 0x1F) +
               " bypass-lock=" + std::to_string(g.byte4 >> 5 & 1) +
               " reverb-tails=" + std::to_string(g.byte4 >> 6 & 1) + " mono=" + std::to_string(g.byte15 & 1) +
               " ir-slot=" + std::to_string(g.byte15 >> 1 & 7);
    }
    const auto [first, rest] = splitWord(args);
    const std::optional<int> p = parseNumber(first, 0, kPrograms - 1);
    if (!p) return error(std::string(verb) + " wants a program 0..127");
    const uint8_t program = static_cast<uint8_t>(*p);
    if (verb == "set-record") {
        const std::optional<std::vector<uint8_t>> b = fromHex(rest);
        ProgramRecord record{};
        if (!b || b->size() != record.size() ||
            std::any_of(b->begin(), b->end(), [](uint8_t v) { return v > 0x7F; })) {
            return error(
                "set-record wants bytes 5..14 of the settings reply in hex (10 bytes, each below 80)");
        }
        std::copy(b->begin(), b->end(), record.begin());
        amp_.setRecord(program, record);
    }
    return "ok record " + std::to_string(*p) + " " + toHex(amp_.reported(program));
}

std::string Emulator::commandFault(std::string_view args, TimePoint now) {
    const auto [name, value] = splitWord(args);
    FaultSettings next = faults_;
    next.amp = amp_.faults;
    if (name == "none") {
        next = FaultSettings{};
    } else if (const std::string why = setFault(next, name, value); !why.empty()) {
        return error(why);
    }
    faults_ = next;
    amp_.faults = next.amp;
    // Timers follow the new settings from now on.
    nextNotice_.reset();
    if (faults_.noticeEveryMs > 0) nextNotice_ = now + milliseconds(faults_.noticeEveryMs);
    if (name == "unplug-after") {
        unplugAt_.reset();
        if (faults_.unplugAfterMs >= 0) unplugAt_ = now + milliseconds(faults_.unplugAfterMs);
    }
    if (name == "none") unplugAt_.reset();
    return "ok fault " + std::string(name) + (value.empty() ? "" : " " + std::string(value));
}

}  // namespace halvard::emulator
