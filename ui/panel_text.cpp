#include "ui/panel_text.hpp"

#include "util/utf8.hpp"

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

namespace {

std::string_view libraryNote(LibraryState state) {
    switch (state) {
        case LibraryState::None:
        case LibraryState::Open:
            return {};
        case LibraryState::Locked:
            return "PROGRAM NAMES UNAVAILABLE: LIBRARY LOCKED";
        case LibraryState::ReadOnly:
            return "PROGRAM NAMES UNAVAILABLE: LIBRARY READ-ONLY";
        case LibraryState::Damaged:
            return "PROGRAM NAMES UNAVAILABLE: LIBRARY DAMAGED";
        case LibraryState::Newer:
            return "PROGRAM NAMES UNAVAILABLE: LIBRARY OF A NEWER VERSION";
        case LibraryState::Foreign:
            return "PROGRAM NAMES UNAVAILABLE: NOT A PROGRAM LIBRARY";
        case LibraryState::Unavailable:
            break;
    }
    return "PROGRAM NAMES UNAVAILABLE: NO LIBRARY";
}

}  // namespace

FixedText<160> statusLineText(const MirrorView& view) {
    const ProgramNameLine& name = view.programName;
    const bool stale = name.stale && name.program == view.program && !name.name.view().empty();
    const std::string_view note =
        stale ? "CHANGED ON THE AMPLIFIER SINCE NAMED" : libraryNote(view.libraryState);
    FixedText<160> t;
    t << note;
    if (!note.empty() && !view.status.view().empty()) t << "  \u00B7  ";
    t << view.status.view();
    return t;
}

FixedText<2 * 64> slotNameText(std::string_view latin1) {
    FixedText<2 * 64> t;
    for (char ch : latin1.substr(0, 64)) {
        char bytes[2];
        t << std::string_view(bytes, latin1CharToUtf8(static_cast<unsigned char>(ch), bytes));
    }
    return t;
}

}  // namespace halvard
