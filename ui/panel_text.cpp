#include "ui/panel_text.hpp"

namespace halvard {

FixedText<40> firmwareVersionText(uint16_t version) {
    FixedText<40> t;
    t << "FIRMWARE VERSION " << static_cast<int32_t>(version >> 8) << "."
      << static_cast<int32_t>(version & 0xFF) << ".0";
    return t;
}

FixedText<40> noAmplifierText(int32_t portsSeen) {
    FixedText<40> t;
    if (portsSeen <= 0)
        t << "NO MIDI PORTS";
    else
        t << "NO AMPLIFIER AMONG " << portsSeen << (portsSeen == 1 ? " MIDI PORT" : " MIDI PORTS");
    return t;
}

FixedText<2 * 64> latin1ToUtf8(std::string_view latin1) {
    FixedText<2 * 64> t;
    for (char ch : latin1.substr(0, 64)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            t << std::string_view(&ch, 1);
        } else {
            const char two[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
            t << std::string_view(two, 2);
        }
    }
    return t;
}

}  // namespace halvard
