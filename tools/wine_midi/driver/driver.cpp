// winehalvardmidi.drv: a WinMM user-mode MIDI driver for Wine whose devices are the MIDI ports of
// a JACK server, reached through halvard-wine-midi-bridge over loopback TCP (wire.hpp). A test tool.
//
// How Wine 8 takes it: winmm asks mmdevapi which driver to use; mmdevapi loads every
// wine<name>.drv listed in HKCU\Software\Wine\Drivers\Audio and keeps the one whose GetPriority is
// highest. Ours says "preferred" only when HALVARD_WINE_MIDI_PORT names the bridge's port, and
// "unavailable" otherwise, so a prefix with it listed behaves as before for every other program.
// winmm then sends DRVM_INIT and asks for the device counts once: the device list is the bridge's
// answer at that moment and never changes. A device whose port goes away stays listed with an
// empty name (as close as a fixed count comes to leaving the list), fails its sends with
// MMSYSERR_NODRIVER and delivers nothing; the bridge says when it is back.
//
// Threads: the program's threads call modMessage and midMessage; the driver's one reader thread
// (started at DRVM_INIT, never in DllMain: mmdevapi unloads the drivers it does not pick) takes the
// bridge's frames and delivers input. Callbacks run with no lock of the driver held, because a
// program may call the driver again from inside one (RtMidi adds the buffer back).
//
// Sections: the bridge connection, devices and instances, output, input, entry points.

#include <winsock2.h>
// windows.h after winsock2.h, and the multimedia headers after the types of windows.h.
#include <windows.h>
// mmddk.h needs the types of mmsystem.h.
#include <mmsystem.h>
// The driver interface.
#include <mmddk.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wire.hpp"

// winmm's way back to the program (its callback function, window, thread or event); MinGW's
// headers do not declare it.
extern "C" __declspec(dllimport) BOOL WINAPI
    DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message, DWORD_PTR user, DWORD_PTR p1,
                   DWORD_PTR p2);

namespace halvard::winemidi {
namespace {

// mmdevapi's driver priorities.
constexpr int kPriorityUnavailable = 0;
constexpr int kPriorityPreferred = 3;
constexpr DWORD kOpenReplyLimitMs = 5000;
constexpr size_t kPendingInputLimit = 1 << 22;  // bytes held for an input that has no buffer yet

class Lock {
public:
    explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
    ~Lock() { LeaveCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION& section_;
};

struct Section {
    Section() { InitializeCriticalSection(&section); }
    ~Section() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
};

// The bridge's token (kTokenVariable); empty when there is none fit to send.
std::string configuredToken() {
    char value[kMaxTokenBytes + 2];
    const DWORD n = GetEnvironmentVariableA(kTokenVariable, value, sizeof value);
    if (n == 0 || n >= sizeof value || !validToken(std::string_view(value, n))) return {};
    return std::string(value, n);
}

uint16_t configuredPort() {
    char value[16];
    const DWORD n = GetEnvironmentVariableA(kPortVariable, value, sizeof value);
    if (n == 0 || n >= sizeof value) return 0;
    const long port = std::strtol(value, nullptr, 10);
    return port > 0 && port < 65536 ? static_cast<uint16_t>(port) : 0;
}

// ---- devices and instances ----------------------------------------------------------------------

struct Device {
    std::wstring name;
    std::atomic<bool> present{true};
};

// One open device. The program's handle carries it in dwUser; the driver's tables hold it too, so
// that the reader thread can reach it while it delivers.
struct Instance {
    Direction direction;
    UINT index;
    MIDIOPENDESC desc;
    DWORD flags;
    std::atomic<bool> dead{false};  // its port went away after it was opened
    std::atomic<bool> closed{false};
    Section lock;

    // Output: the byte stream of MODM_DATA and MODM_LONGDATA cut into whole messages.
    uint8_t runningStatus = 0;
    Bytes partial;
    size_t expected = 0;
    bool inSysex = false;

    // Input: messages waiting for delivery, the buffers the program added, and who delivers.
    std::deque<Bytes> pending;
    size_t pendingBytes = 0;
    size_t offset = 0;  // bytes of pending.front() already in buffers
    std::deque<MIDIHDR*> buffers;
    bool started = false;
    bool delivering = false;
    DWORD deliverer = 0;                                     // the thread delivering, while one does
    CONDITION_VARIABLE delivered = CONDITION_VARIABLE_INIT;  // woken as a delivery ends
    DWORD startTick = 0;

    void callback(UINT message, DWORD_PTR p1, DWORD_PTR p2) const {
        DriverCallback(desc.dwCallback, HIWORD(flags & CALLBACK_TYPEMASK),
                       reinterpret_cast<HDRVR>(desc.hMidi), message, desc.dwInstance, p1, p2);
    }
};

// ---- the bridge connection ----------------------------------------------------------------------

class Driver {
public:
    // Connects and reads the device list, once; without a bridge the lists stay empty.
    void init() { InitOnceExecuteOnce(&once_, &Driver::initOnce, this, nullptr); }

    size_t count(Direction d) const { return devices(d).size(); }
    Device* device(Direction d, UINT index) {
        auto& list = devices(d);
        return index < list.size() ? list[index].get() : nullptr;
    }

    std::shared_ptr<Instance> instance(Direction d, UINT index) {
        Lock lock(tables_.section);
        auto& table = open(d);
        return index < table.size() ? table[index] : nullptr;
    }

    // Asks the bridge to open a device and, when it may, makes its instance.
    DWORD openDevice(Direction d, UINT index, const MIDIOPENDESC* desc, DWORD flags, DWORD_PTR* user) {
        Device* dev = device(d, index);
        if (!dev || !desc) return MMSYSERR_BADDEVICEID;
        if (!dev->present || !connected_) return MMSYSERR_NODRIVER;
        if (instance(d, index)) return MMSYSERR_ALLOCATED;
        std::optional<OpenResult> answer;
        {
            Lock serial(opening_.section);
            const Bytes which = devicePayload(d, static_cast<uint16_t>(index));
            {
                Lock lock(reply_.section);
                ResetEvent(openReply_);
                awaited_ = OpenKey{d, static_cast<uint16_t>(index)};
                answer_.reset();
            }
            const bool sent = sendFrame(FrameType::Open, which);
            if (sent) WaitForSingleObject(openReply_, kOpenReplyLimitMs);
            {
                Lock lock(reply_.section);
                answer = answer_;
                awaited_.reset();
                if (!answer && sent) ++late_;
            }
            if (!answer) {
                // The bridge may still open it and answer late: closed there, the device is not
                // left held by an open no program has. A close of a device not open does nothing.
                if (sent) sendFrame(FrameType::Close, which);
                return MMSYSERR_NODRIVER;
            }
        }
        switch (*answer) {
            case OpenResult::Ok:
                break;
            case OpenResult::Allocated:
                return MMSYSERR_ALLOCATED;
            case OpenResult::BadIndex:
                return MMSYSERR_BADDEVICEID;
            case OpenResult::Gone:
                return MMSYSERR_NODRIVER;
        }
        auto made = std::make_shared<Instance>();
        made->direction = d;
        made->index = index;
        made->desc = *desc;
        made->flags = flags;
        {
            Lock lock(tables_.section);
            open(d)[index] = made;
        }
        *user = reinterpret_cast<DWORD_PTR>(made.get());
        made->callback(d == Direction::In ? MIM_OPEN : MOM_OPEN, 0, 0);
        return MMSYSERR_NOERROR;
    }

    void closeDevice(const std::shared_ptr<Instance>& instance) {
        instance->closed = true;
        {
            Lock lock(tables_.section);
            open(instance->direction)[instance->index].reset();
        }
        sendFrame(FrameType::Close,
                  devicePayload(instance->direction, static_cast<uint16_t>(instance->index)));
        instance->callback(instance->direction == Direction::In ? MIM_CLOSE : MOM_CLOSE, 0, 0);
    }

    bool sendMessage(UINT index, const Bytes& message) {
        Bytes payload;
        putU16(payload, static_cast<uint16_t>(index));
        payload.insert(payload.end(), message.begin(), message.end());
        return sendFrame(FrameType::Message, payload);
    }

    static void deliver(Instance& in);

private:
    const std::vector<std::unique_ptr<Device>>& devices(Direction d) const {
        return d == Direction::In ? inputs_ : outputs_;
    }
    std::vector<std::shared_ptr<Instance>>& open(Direction d) {
        return d == Direction::In ? openIn_ : openOut_;
    }

    static BOOL CALLBACK initOnce(PINIT_ONCE, PVOID self, PVOID*) {
        static_cast<Driver*>(self)->connect();
        return TRUE;
    }

    void connect() {
        openReply_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const uint16_t port = configuredPort();
        WSADATA wsa;
        if (port == 0 || WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const BOOL yes = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
        const DWORD limit = 5000;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return closeSocket();
        const std::string greeting = hello(configuredToken(), Peer::Driver);
        if (!sendAll(reinterpret_cast<const uint8_t*>(greeting.data()), greeting.size()) ||
            !sendFrame(FrameType::List, {})) {
            return closeSocket();
        }
        // The list first, read here: the counts must be known before DRVM_INIT returns.
        FrameType type{};
        Bytes payload;
        while (true) {
            const FrameReader::Next next = reader_.next(type, payload);
            if (next == FrameReader::Next::Broken) return closeSocket();
            if (next == FrameReader::Next::Frame) {
                if (type == FrameType::List) break;
                continue;
            }
            if (!receiveSome()) return closeSocket();
        }
        if (!readList(payload)) return closeSocket();
        const DWORD forever = 0;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&forever), sizeof forever);
        openIn_.resize(inputs_.size());
        openOut_.resize(outputs_.size());
        connected_ = true;
        // The thread keeps the driver loaded while it runs, and lets it go as it ends.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&configuredPort),
                           &self);
        HANDLE thread = CreateThread(nullptr, 0, &Driver::readerThread, this, 0, nullptr);
        if (thread) {
            CloseHandle(thread);
        } else {
            FreeLibrary(self);
            connected_ = false;
        }
    }

    bool readList(const Bytes& payload) {
        DeviceList list;
        if (!parseList(payload, list)) return false;
        for (const auto& [names, devices] :
             {std::pair{&list.inputs, &inputs_}, std::pair{&list.outputs, &outputs_}}) {
            for (const std::string& utf8 : *names) {
                auto dev = std::make_unique<Device>();
                wchar_t wide[kMaxDeviceName + 1] = {};
                const int w = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                  wide, static_cast<int>(kMaxDeviceName));
                dev->name.assign(wide, static_cast<size_t>(std::max(w, 0)));
                devices->push_back(std::move(dev));
            }
        }
        return true;
    }

    static DWORD WINAPI readerThread(LPVOID self) {
        static_cast<Driver*>(self)->readFrames();
        HMODULE module = nullptr;
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&configuredPort), &module);
        FreeLibraryAndExitThread(module, 0);
    }

    void readFrames() {
        FrameType type{};
        Bytes payload;
        for (;;) {
            const FrameReader::Next next = reader_.next(type, payload);
            if (next == FrameReader::Next::Broken) break;
            if (next == FrameReader::Next::More) {
                if (!receiveSome()) break;
                continue;
            }
            handleFrame(type, payload);
        }
        // The bridge has gone: every device with it.
        connected_ = false;
        for (const Direction d : {Direction::In, Direction::Out}) {
            for (UINT i = 0; i < count(d); ++i) setPresent(d, i, false);
        }
        SetEvent(openReply_);  // an open waiting has no answer
    }

    void handleFrame(FrameType type, const Bytes& payload) {
        if (type == FrameType::Message && payload.size() > 2) {
            const std::shared_ptr<Instance> in = instance(Direction::In, getU16(payload.data()));
            if (!in) return;
            {
                Lock lock(in->lock.section);
                // Before MIDM_START and after MIDM_STOP input is dropped, as on Windows.
                if (!in->started || in->dead || in->pendingBytes + payload.size() > kPendingInputLimit)
                    return;
                in->pending.emplace_back(payload.begin() + 2, payload.end());
                in->pendingBytes += payload.size() - 2;
            }
            deliver(*in);
            return;
        }
        if (payload.size() < 3 || payload[0] > 1) return;
        const auto d = static_cast<Direction>(payload[0]);
        const uint16_t index = getU16(&payload[1]);
        if (type == FrameType::Opened && payload.size() >= 4) {
            // Only the answer to the open waiting now: one for an open that gave up is not it.
            Lock lock(reply_.section);
            if (late_ > 0) {
                --late_;
            } else if (awaited_ == OpenKey{d, index} && !answer_) {
                answer_ = static_cast<OpenResult>(payload[3]);
                SetEvent(openReply_);
            }
        } else if (type == FrameType::Presence && payload.size() >= 4) {
            setPresent(d, index, payload[3] != 0);
        }
    }

    // A device that goes takes its open instance with it for good: the program must close it and
    // open the device again once it is back.
    void setPresent(Direction d, UINT index, bool present) {
        Device* dev = device(d, index);
        if (!dev) return;
        dev->present = present;
        if (present) return;
        if (const std::shared_ptr<Instance> open = instance(d, index)) {
            Lock lock(open->lock.section);
            open->dead = true;
            open->pending.clear();
            open->pendingBytes = 0;
            open->offset = 0;
        }
    }

    bool receiveSome() {
        uint8_t buffer[16384];
        const int n = recv(socket_, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
        if (n <= 0) return false;
        reader_.add(buffer, static_cast<size_t>(n));
        return true;
    }

    bool sendFrame(FrameType type, const Bytes& payload) {
        const Bytes bytes = frame(type, payload);
        Lock lock(sending_.section);
        return sendAll(bytes.data(), bytes.size());
    }

    bool sendAll(const uint8_t* data, size_t n) {
        while (n > 0) {
            const int sent = send(socket_, reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
            if (sent <= 0) return false;
            data += sent;
            n -= static_cast<size_t>(sent);
        }
        return true;
    }

    void closeSocket() {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
        inputs_.clear();
        outputs_.clear();
    }

    INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
    SOCKET socket_ = INVALID_SOCKET;
    std::atomic<bool> connected_{false};
    FrameReader reader_;  // the connecting thread's, then the reader thread's alone
    std::vector<std::unique_ptr<Device>> inputs_;
    std::vector<std::unique_ptr<Device>> outputs_;
    Section tables_;
    std::vector<std::shared_ptr<Instance>> openIn_;
    std::vector<std::shared_ptr<Instance>> openOut_;
    Section sending_;
    Section opening_;  // one open at a time waits for its answer
    using OpenKey = std::pair<Direction, uint16_t>;
    Section reply_;  // the three below, between the open waiting and the reader thread
    std::optional<OpenKey> awaited_;
    std::optional<OpenResult> answer_;
    // Answers still to come for opens that gave up: the bridge answers every open, in order, so
    // these come before the answer to any later open, also one of the same device.
    unsigned late_ = 0;
    HANDLE openReply_ = nullptr;
};

// Made on first use and never destroyed: its reader thread may outlive the program's last call.
Driver& driver() {
    static Driver* const instance = new Driver;
    return *instance;
}

std::shared_ptr<Instance> instanceOf(Direction d, UINT index, DWORD_PTR user) {
    std::shared_ptr<Instance> found = driver().instance(d, index);
    return found && reinterpret_cast<DWORD_PTR>(found.get()) == user ? found : nullptr;
}

DWORD prepare(MIDIHDR* header, DWORD_PTR size) {
    if (!header || size < offsetof(MIDIHDR, dwOffset)) return MMSYSERR_INVALPARAM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

DWORD unprepare(MIDIHDR* header, DWORD_PTR size) {
    if (!header || size < offsetof(MIDIHDR, dwOffset)) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

template <class Caps>
DWORD deviceCaps(Direction d, UINT index, Caps* caps, DWORD_PTR size) {
    Device* dev = driver().device(d, index);
    if (!dev) return MMSYSERR_BADDEVICEID;
    if (!caps) return MMSYSERR_INVALPARAM;
    Caps filled{};
    filled.wMid = MM_UNMAPPED;
    filled.wPid = MM_PID_UNMAPPED;
    filled.vDriverVersion = 0x0100;
    // A device whose port has gone keeps its place (Wine counted it) but loses its name.
    if (dev->present) dev->name.copy(filled.szPname, kMaxDeviceName);
    if constexpr (std::is_same_v<Caps, MIDIOUTCAPSW>) {
        filled.wTechnology = MOD_MIDIPORT;
        filled.wChannelMask = 0xFFFF;
    }
    std::memcpy(caps, &filled, std::min(static_cast<size_t>(size), sizeof filled));
    return MMSYSERR_NOERROR;
}

// ---- output -------------------------------------------------------------------------------------

// How many bytes a message with this status byte has.
size_t messageLength(uint8_t status) {
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
    if (status < 0xE0) return 2;
    if (status == 0xF1 || status == 0xF3) return 2;
    if (status == 0xF2) return 3;
    return 1;
}

// Feeds one byte of the output stream; a whole message goes to the bridge. SysEx may span several
// MODM_LONGDATA buffers, and running status applies to short messages.
bool feed(Instance& out, uint8_t byte) {
    const auto emit = [&](const Bytes& message) { return driver().sendMessage(out.index, message); };
    if (byte >= 0xF8) return emit(Bytes{byte});  // real-time bytes go at once, even inside SysEx
    if (out.inSysex) {
        out.partial.push_back(byte);
        if (byte == 0xF7) {
            out.inSysex = false;
            const bool sent = emit(out.partial);
            out.partial.clear();
            return sent;
        }
        if (!(byte & 0x80)) return true;
        out.inSysex = false;  // a status byte cuts the SysEx short: it is dropped
        out.partial.clear();
    }
    if (byte == 0xF0) {
        out.inSysex = true;
        out.partial = {byte};
        return true;
    }
    if (byte & 0x80) {
        if (byte == 0xF7) return true;  // a stray end of SysEx
        out.runningStatus = byte < 0xF0 ? byte : 0;
        out.partial = {byte};
        out.expected = messageLength(byte);
    } else {
        if (out.partial.empty()) {
            if (!out.runningStatus) return true;  // data with no status to go with it
            out.partial = {out.runningStatus};
            out.expected = messageLength(out.runningStatus);
        }
        out.partial.push_back(byte);
    }
    if (out.partial.size() < out.expected) return true;
    const bool sent = emit(out.partial);
    out.partial.clear();
    return sent;
}

DWORD outputMessage(UINT index, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    switch (message) {
        case DRVM_INIT:
            driver().init();
            return MMSYSERR_NOERROR;
        case DRVM_EXIT:
        case DRVM_ENABLE:
        case DRVM_DISABLE:
            return MMSYSERR_NOERROR;
        case MODM_GETNUMDEVS:
            driver().init();
            return static_cast<DWORD>(driver().count(Direction::Out));
        case MODM_GETDEVCAPS:
            return deviceCaps(Direction::Out, index, reinterpret_cast<MIDIOUTCAPSW*>(p1), p2);
        case MODM_OPEN:
            return driver().openDevice(Direction::Out, index, reinterpret_cast<const MIDIOPENDESC*>(p1),
                                       static_cast<DWORD>(p2), reinterpret_cast<DWORD_PTR*>(user));
        default:
            break;
    }
    const std::shared_ptr<Instance> out = instanceOf(Direction::Out, index, user);
    if (!out) return MMSYSERR_INVALHANDLE;
    switch (message) {
        case MODM_CLOSE:
            driver().closeDevice(out);
            return MMSYSERR_NOERROR;
        case MODM_PREPARE:
            return prepare(reinterpret_cast<MIDIHDR*>(p1), p2);
        case MODM_UNPREPARE:
            return unprepare(reinterpret_cast<MIDIHDR*>(p1), p2);
        case MODM_DATA: {
            if (out->dead) return MMSYSERR_NODRIVER;
            const uint8_t bytes[3] = {static_cast<uint8_t>(p1), static_cast<uint8_t>(p1 >> 8),
                                      static_cast<uint8_t>(p1 >> 16)};
            Lock lock(out->lock.section);
            const size_t n = bytes[0] & 0x80      ? messageLength(bytes[0])
                             : out->runningStatus ? messageLength(out->runningStatus) - 1
                                                  : 0;
            for (size_t i = 0; i < n; ++i)
                if (!feed(*out, bytes[i])) return MMSYSERR_NODRIVER;
            return MMSYSERR_NOERROR;
        }
        case MODM_LONGDATA: {
            auto* header = reinterpret_cast<MIDIHDR*>(p1);
            if (!header || !header->lpData) return MMSYSERR_INVALPARAM;
            if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
            if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
            if (out->dead) return MMSYSERR_NODRIVER;
            {
                Lock lock(out->lock.section);
                for (DWORD i = 0; i < header->dwBufferLength; ++i)
                    if (!feed(*out, static_cast<uint8_t>(header->lpData[i]))) return MMSYSERR_NODRIVER;
            }
            // Sent by the time this returns: the buffer is the program's again.
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            out->callback(MOM_DONE, reinterpret_cast<DWORD_PTR>(header), 0);
            return MMSYSERR_NOERROR;
        }
        case MODM_RESET: {
            Lock lock(out->lock.section);
            out->partial.clear();
            out->inSysex = false;
            out->runningStatus = 0;
            return MMSYSERR_NOERROR;
        }
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
}

// ---- input --------------------------------------------------------------------------------------

// Hands pending messages to the program: short ones as MIM_DATA, SysEx into its buffers, a buffer
// going back (MIM_LONGDATA) when the message ends in it or it is full, so that a long message
// continues in the next. One thread delivers at a time; a buffer added meanwhile (from inside the
// callback too) is used by that thread.
void Driver::deliver(Instance& in) {
    EnterCriticalSection(&in.lock.section);
    if (in.delivering) {
        LeaveCriticalSection(&in.lock.section);
        return;
    }
    in.delivering = true;
    in.deliverer = GetCurrentThreadId();
    while (in.started && !in.dead && !in.closed && !in.pending.empty()) {
        const Bytes& m = in.pending.front();
        const DWORD time = GetTickCount() - in.startTick;
        UINT message = MIM_DATA;
        DWORD_PTR p1 = 0;
        if (m[0] != 0xF0) {
            for (size_t i = 0; i < std::min<size_t>(m.size(), 3); ++i)
                p1 |= static_cast<DWORD_PTR>(m[i]) << (8 * i);
            in.pendingBytes -= m.size();
            in.pending.pop_front();
        } else {
            if (in.buffers.empty()) break;  // it waits for the program's next buffer
            MIDIHDR* header = in.buffers.front();
            const size_t take =
                std::min<size_t>(header->dwBufferLength - header->dwBytesRecorded, m.size() - in.offset);
            std::memcpy(header->lpData + header->dwBytesRecorded, m.data() + in.offset, take);
            header->dwBytesRecorded += static_cast<DWORD>(take);
            in.offset += take;
            const bool ended = in.offset == m.size();
            if (ended) {
                in.pendingBytes -= m.size();
                in.pending.pop_front();
                in.offset = 0;
            }
            if (!ended && header->dwBytesRecorded < header->dwBufferLength) continue;
            in.buffers.pop_front();
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            message = MIM_LONGDATA;
            p1 = reinterpret_cast<DWORD_PTR>(header);
        }
        LeaveCriticalSection(&in.lock.section);
        in.callback(message, p1, time);
        EnterCriticalSection(&in.lock.section);
    }
    in.delivering = false;
    in.deliverer = 0;
    LeaveCriticalSection(&in.lock.section);
    WakeAllConditionVariable(&in.delivered);
}

// With the instance's lock held: input stops, and a delivery under way on another thread is waited
// for, so that no callback reaches the program once a reset, stop or close has returned (a program
// frees its buffers then). From inside the callback itself there is nothing to wait for: the
// delivery goes no further once it returns, as input has stopped.
void stopDelivering(Instance& in) {
    in.started = false;
    while (in.delivering && in.deliverer != GetCurrentThreadId())
        SleepConditionVariableCS(&in.delivered, &in.lock.section, INFINITE);
}

// Every buffer still queued goes back to the program, from the calling thread.
void returnBuffers(Instance& in, bool all) {
    std::vector<MIDIHDR*> back;
    {
        Lock lock(in.lock.section);
        stopDelivering(in);
        in.pending.clear();
        in.pendingBytes = 0;
        in.offset = 0;
        while (!in.buffers.empty() && (all || in.buffers.front()->dwBytesRecorded > 0)) {
            MIDIHDR* header = in.buffers.front();
            in.buffers.pop_front();
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            back.push_back(header);
            if (!all) break;
        }
    }
    for (MIDIHDR* header : back) in.callback(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
}

DWORD inputMessage(UINT index, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    switch (message) {
        case DRVM_INIT:
            driver().init();
            return MMSYSERR_NOERROR;
        case DRVM_EXIT:
        case DRVM_ENABLE:
        case DRVM_DISABLE:
            return MMSYSERR_NOERROR;
        case MIDM_GETNUMDEVS:
            driver().init();
            return static_cast<DWORD>(driver().count(Direction::In));
        case MIDM_GETDEVCAPS:
            return deviceCaps(Direction::In, index, reinterpret_cast<MIDIINCAPSW*>(p1), p2);
        case MIDM_OPEN:
            return driver().openDevice(Direction::In, index, reinterpret_cast<const MIDIOPENDESC*>(p1),
                                       static_cast<DWORD>(p2), reinterpret_cast<DWORD_PTR*>(user));
        default:
            break;
    }
    const std::shared_ptr<Instance> in = instanceOf(Direction::In, index, user);
    if (!in) return MMSYSERR_INVALHANDLE;
    switch (message) {
        case MIDM_CLOSE: {
            {
                Lock lock(in->lock.section);
                if (!in->buffers.empty()) return MIDIERR_STILLPLAYING;
                stopDelivering(*in);
            }
            driver().closeDevice(in);
            return MMSYSERR_NOERROR;
        }
        case MIDM_PREPARE:
            return prepare(reinterpret_cast<MIDIHDR*>(p1), p2);
        case MIDM_UNPREPARE:
            return unprepare(reinterpret_cast<MIDIHDR*>(p1), p2);
        case MIDM_ADDBUFFER: {
            auto* header = reinterpret_cast<MIDIHDR*>(p1);
            if (!header || !header->lpData || header->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
            if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
            if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
            {
                Lock lock(in->lock.section);
                header->dwBytesRecorded = 0;
                header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
                in->buffers.push_back(header);
            }
            Driver::deliver(*in);
            return MMSYSERR_NOERROR;
        }
        case MIDM_START: {
            {
                Lock lock(in->lock.section);
                if (!in->started) in->startTick = GetTickCount();
                in->started = true;
            }
            Driver::deliver(*in);
            return MMSYSERR_NOERROR;
        }
        case MIDM_STOP:
            // A buffer part-filled with a message goes back; empty ones stay queued.
            returnBuffers(*in, false);
            return MMSYSERR_NOERROR;
        case MIDM_RESET:
            returnBuffers(*in, true);
            return MMSYSERR_NOERROR;
        default:
            return MMSYSERR_NOTSUPPORTED;
    }
}

}  // namespace
}  // namespace halvard::winemidi

// ---- entry points -------------------------------------------------------------------------------

extern "C" {

LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM p1, LPARAM p2) {
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_OPEN:
        case DRV_CLOSE:
        case DRV_ENABLE:
        case DRV_DISABLE:
        case DRV_QUERYCONFIGURE:
            return 1;
        case DRV_CONFIGURE:
            return DRVCNF_OK;
        case DRV_INSTALL:
        case DRV_REMOVE:
            return DRVCNF_RESTART;
        default:
            return DefDriverProc(id, driver, message, p1, p2);
    }
}

DWORD WINAPI modMessage(UINT index, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    return halvard::winemidi::outputMessage(index, message, user, p1, p2);
}

DWORD WINAPI midMessage(UINT index, UINT message, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    return halvard::winemidi::inputMessage(index, message, user, p1, p2);
}

// What mmdevapi needs of a driver to consider it. Audio endpoints: none.
int WINAPI GetPriority() {
    return halvard::winemidi::configuredPort() != 0 ? halvard::winemidi::kPriorityPreferred
                                                    : halvard::winemidi::kPriorityUnavailable;
}

HRESULT WINAPI GetEndpointIDs(int, WCHAR*** ids, GUID** guids, UINT* count, UINT* defaultIndex) {
    *ids = nullptr;
    *guids = nullptr;
    *count = 0;
    *defaultIndex = 0;
    return S_OK;
}

HRESULT WINAPI GetAudioEndpoint(void*, void*, void** out) {
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT WINAPI GetAudioSessionManager(void*, void** out) {
    *out = nullptr;
    return E_NOTIMPL;
}

}  // extern "C"
