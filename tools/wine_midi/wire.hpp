#pragma once
// What the Wine MIDI driver (winehalvardmidi.drv, inside a Windows program under Wine) and the bridge
// (halvard-wine-midi-bridge, a JACK client on the Linux side) say to each other over one loopback
// TCP connection per Windows process. Built into both, so nothing here touches a platform.
//
// Every connection opens with a hello line, "HWM1 <token> driver" or "HWM1 <token> control" and a
// newline: the token is the bridge's secret (kTokenVariable), so that no other local program (a web
// page's request to 127.0.0.1 among them) can drive the bridge. A connection whose first line is
// anything else is closed unanswered. After a driver's hello both sides send frames:
//   u32 length (of what follows, little-endian), u8 type, payload
// Directions are as WinMM sees them: an input device delivers what a JACK output port sends, an
// output device sends to a JACK input port. Devices are indices into the list the bridge sent.
//
//   driver -> bridge                               bridge -> driver
//   List                                           List: u16 inputs, names; u16 outputs, names
//                                                        (each a u8 length and the bytes)
//   Open: u8 direction, u16 index                  Opened: u8 direction, u16 index, u8 OpenResult
//   Close: u8 direction, u16 index
//   Message: u16 output index, one MIDI message    Message: u16 input index, one MIDI message
//                                                  Presence: u8 direction, u16 index, u8 present
// After a control hello: text lines, as on the bridge's standard input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/amplifier_port_tag.hpp"

namespace halvard::winemidi {

inline constexpr std::string_view kMagic{"HWM1", 4};
// The environment variables that give the driver and the bridge the bridge's TCP port on 127.0.0.1
// and the token (at least kMinTokenBytes, at most kMaxTokenBytes, no spaces).
inline constexpr const char* kPortVariable = "HALVARD_WINE_MIDI_PORT";
inline constexpr const char* kTokenVariable = "HALVARD_WINE_MIDI_TOKEN";
inline constexpr size_t kMinTokenBytes = 16;
inline constexpr size_t kMaxTokenBytes = 128;
// A hello or control line longer than this ends the connection.
inline constexpr size_t kMaxLineBytes = 4096;
// Longer frames end the connection: nothing JACK carries in one cycle comes near.
inline constexpr uint32_t kMaxFrameBytes = 1u << 20;
// WinMM's device names (szPname) hold 31 characters and the terminator.
inline constexpr size_t kMaxDeviceName = 31;

enum class FrameType : uint8_t {
    List = 'L',
    Open = 'O',
    Opened = 'R',
    Close = 'C',
    Message = 'M',
    Presence = 'P',
};

enum class Direction : uint8_t { In = 0, Out = 1 };

enum class OpenResult : uint8_t {
    Ok = 0,
    Allocated = 1,  // another program (or another open of this one) has the device
    Gone = 2,       // its port has gone away
    BadIndex = 3,
};

using Bytes = std::vector<uint8_t>;

inline void putU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline uint16_t getU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// One frame, ready to send.
inline Bytes frame(FrameType type, const Bytes& payload = {}) {
    const auto length = static_cast<uint32_t>(payload.size() + 1);
    Bytes b{static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
            static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24),
            static_cast<uint8_t>(type)};
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

inline Bytes devicePayload(Direction direction, uint16_t index) {
    Bytes b{static_cast<uint8_t>(direction)};
    putU16(b, index);
    return b;
}

enum class Peer { Driver, Control };

inline bool validToken(std::string_view token) {
    if (token.size() < kMinTokenBytes || token.size() > kMaxTokenBytes) return false;
    for (const char c : token)
        if (c <= ' ' || c > '~') return false;
    return true;
}

inline std::string hello(std::string_view token, Peer peer) {
    return std::string(kMagic) + " " + std::string(token) +
           (peer == Peer::Driver ? " driver\n" : " control\n");
}

// Who the hello line (without its newline) says is connecting, when it carries the token.
inline std::optional<Peer> acceptHello(std::string_view line, std::string_view token) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (const Peer peer : {Peer::Driver, Peer::Control}) {
        std::string expected = hello(token, peer);
        expected.pop_back();
        if (line == expected) return peer;
    }
    return std::nullopt;
}

// Collects bytes as they arrive and hands out whole frames.
class FrameReader {
public:
    void add(const uint8_t* data, size_t n) { buffer_.insert(buffer_.end(), data, data + n); }

    enum class Next { Frame, More, Broken };
    // The next whole frame into type and payload; Broken for a length that cannot be.
    Next next(FrameType& type, Bytes& payload) {
        if (buffer_.size() - start_ < 4) return compact(), Next::More;
        const uint8_t* p = buffer_.data() + start_;
        const uint32_t length = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        if (length == 0 || length > kMaxFrameBytes) return Next::Broken;
        if (buffer_.size() - start_ < 4 + static_cast<size_t>(length)) return compact(), Next::More;
        type = static_cast<FrameType>(p[4]);
        payload.assign(p + 5, p + 4 + length);
        start_ += 4 + length;
        return Next::Frame;
    }

private:
    void compact() {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    Bytes buffer_;
    size_t start_ = 0;
};

// The bridge's List payload: the inputs' names, then the outputs'. False when it is cut short or a
// name is longer than a WinMM name can be.
struct DeviceList {
    std::vector<std::string> inputs, outputs;
};
inline bool parseList(const Bytes& payload, DeviceList& list) {
    size_t at = 0;
    for (auto* names : {&list.inputs, &list.outputs}) {
        names->clear();
        if (at + 2 > payload.size()) return false;
        const uint16_t n = getU16(&payload[at]);
        at += 2;
        for (uint16_t i = 0; i < n; ++i) {
            if (at >= payload.size() || payload[at] > kMaxDeviceName || at + 1 + payload[at] > payload.size())
                return false;
            names->emplace_back(payload.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                payload.begin() + static_cast<std::ptrdiff_t>(at + 1 + payload[at]));
            at += 1 + payload[at];
        }
    }
    return at == payload.size();
}

// The WinMM name of a JACK port ("client:port"): the whole name when it fits in 31 characters;
// else the port's own name (or the whole one, when only its client part holds the amplifier's
// tag), cut to 31 characters so that the tag stays in. A cut never splits a UTF-8 character.
inline std::string deviceName(std::string_view jackName) {
    if (jackName.size() <= kMaxDeviceName) return std::string(jackName);
    std::string_view name = jackName;
    const size_t colon = jackName.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view own = jackName.substr(colon + 1);
        if (own.find(kAmplifierPortTag) != std::string_view::npos ||
            jackName.find(kAmplifierPortTag) == std::string_view::npos) {
            name = own;
        }
    }
    if (name.size() <= kMaxDeviceName) return std::string(name);
    const size_t tag = name.find(kAmplifierPortTag);
    size_t start = tag == std::string_view::npos || tag + kAmplifierPortTag.size() <= kMaxDeviceName
                       ? 0
                       : tag + kAmplifierPortTag.size() - kMaxDeviceName;
    size_t end = start + kMaxDeviceName;
    const auto continuation = [&](size_t i) { return (static_cast<uint8_t>(name[i]) & 0xC0) == 0x80; };
    while (start < name.size() && continuation(start)) ++start;
    while (end > start && end < name.size() && continuation(end)) --end;
    return std::string(name.substr(start, end - start));
}

}  // namespace halvard::winemidi
