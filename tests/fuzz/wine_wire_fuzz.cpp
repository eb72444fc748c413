// Feeds arbitrary bytes to the Wine MIDI bridge's wire decoder as a connection would bring them: a
// hello line, then frames cut into pieces of the sizes the input's first byte picks. Every frame
// handed out must fit the bound and the bytes given; every device list the parser accepts must
// hold names WinMM can take, and a list made of those names must read back the same.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire.hpp"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvard::winemidi;
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 64;
    ++data;
    --size;

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t end = text.find('\n');
    if (end != std::string_view::npos && end <= kMaxLineBytes) {
        const auto peer = acceptHello(text.substr(0, end), "0123456789abcdef0123456789abcdef");
        if (peer)
            require(text.substr(0, end + 1).starts_with(hello("0123456789abcdef0123456789abcdef", *peer)));
        data += end + 1;
        size -= end + 1;
    }

    FrameReader reader;
    size_t given = 0, taken = 0;
    for (size_t at = 0; at < size; at += piece) {
        const size_t n = std::min(piece, size - at);
        reader.add(data + at, n);
        given += n;
        FrameType type{};
        Bytes payload;
        FrameReader::Next next;
        while ((next = reader.next(type, payload)) == FrameReader::Next::Frame) {
            require(payload.size() + 1 <= kMaxFrameBytes);
            taken += 5 + payload.size();
            require(taken <= given);
            DeviceList list;
            if (type != FrameType::List || !parseList(payload, list)) continue;
            Bytes again;
            for (const auto* names : {&list.inputs, &list.outputs}) {
                putU16(again, static_cast<uint16_t>(names->size()));
                for (const std::string& name : *names) {
                    require(name.size() <= kMaxDeviceName);
                    again.push_back(static_cast<uint8_t>(name.size()));
                    again.insert(again.end(), name.begin(), name.end());
                }
            }
            require(again == payload);
        }
        if (next == FrameReader::Next::Broken) break;
    }
    return 0;
}
