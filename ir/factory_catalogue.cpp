#include "ir/factory_catalogue.hpp"

#include <string>

namespace halvard {
namespace {

// In catalogue order: ten 1 x 12-inch cabinets (index 6 the main one), a 2 x 10, two 2 x 12 (index 12
// main) and two 4 x 12 (index 13 main). Each description is the capture that tools/ir_synth models
// for the same index.
constexpr FactoryIrCatalogue kCatalogue{{
    {"1x12 Open Back Alnico",
     "A vintage-style twelve-inch alnico speaker in an open-back pine combo, captured by a "
     "dynamic microphone touching the grille at the edge of the dust cap, through a clean "
     "transformer-coupled valve preamp.",
     0, &kFactoryIrImages[0]},
    {"1x12 Open Back Ribbon",
     "The same open-back pine combo with its twelve-inch alnico speaker, heard by a ribbon "
     "microphone a hand's width back and centred on the dust cap, through a warm valve preamp "
     "that leaves the chime intact.",
     0, &kFactoryIrImages[1]},
    {"1x12 Closed Dynamic",
     "A twelve-inch ceramic speaker in a closed-back birch cabinet, with a dynamic microphone "
     "pressed to the grille right on the dust cap and a fast solid-state preamp, for a bright "
     "and forward attack.",
     0, &kFactoryIrImages[2]},
    {"1x12 Closed Condenser",
     "The closed-back birch cabinet with its twelve-inch ceramic speaker, captured by a large-"
     "diaphragm condenser a foot away at the cap edge through a clean solid-state preamp, so "
     "the box and the air come through.",
     0, &kFactoryIrImages[3]},
    {"1x12 Ceramic Off Axis",
     "A twelve-inch ceramic speaker in the closed-back birch cabinet, with a dynamic "
     "microphone at the cap edge turned forty-five degrees off axis into a discrete class-A "
     "preamp, softening the fizz at the top.",
     0, &kFactoryIrImages[4]},
    {"1x12 Small Box Tight",
     "A twelve-inch ceramic speaker in a compact closed-back cabinet tuned high and tight, "
     "captured by a dynamic microphone on the cap edge and a small condenser just behind it, "
     "both through a clean solid-state preamp.",
     0, &kFactoryIrImages[5]},
    {"1x12 Studio Blend",
     "A twelve-inch ceramic speaker in an oversize closed-back cabinet, with a dynamic "
     "microphone at the cap edge blended with a ribbon microphone a little further back, "
     "through matched valve preamps, for a balanced tone.",
     1, &kFactoryIrImages[6]},
    {"1x12 Room Condenser",
     "A twelve-inch ceramic speaker in a closed-back cabinet standing in a live wooden room, "
     "heard by a large-diaphragm condenser four feet away at chest height through a "
     "transformer-coupled preamp, with floor and walls.",
     0, &kFactoryIrImages[7]},
    {"1x12 Open Back Cone",
     "A twelve-inch ceramic speaker in a shallow open-back combo, with a dynamic microphone "
     "aimed half way out along the cone two inches back and a discrete class-A preamp, for a "
     "round and warm tone with little fizz.",
     0, &kFactoryIrImages[8]},
    {"1x12 High Power Punch",
     "A heavy-magnet high-power twelve-inch ceramic speaker in a thick closed-back cabinet, "
     "captured by a dynamic microphone near the dust cap and a small condenser behind it "
     "through a solid-state preamp, for tight lows.",
     0, &kFactoryIrImages[9]},
    {"2x10 Open Back Combo",
     "Two ten-inch ceramic speakers side by side in an open-back combo, captured by a dynamic "
     "microphone two inches from the cap edge of one of them through a clean valve preamp, for"
     " a bright, quick and airy voice.",
     0, &kFactoryIrImages[10]},
    {"2x12 Open Back Combo",
     "Two twelve-inch ceramic speakers in a wide open-back combo, with a dynamic microphone on"
     " one speaker and a ribbon microphone centred between both, each through a valve preamp, "
     "so the pair adds depth to the lows.",
     0, &kFactoryIrImages[11]},
    {"2x12 Closed Vintage",
     "Two vintage-voiced twelve-inch speakers in a closed-back birch cabinet, with a dynamic "
     "microphone at the cap edge of one speaker and a ribbon microphone behind it through "
     "transformer-coupled valve preamps.",
     1, &kFactoryIrImages[12]},
    {"4x12 Closed Classic",
     "Four twelve-inch ceramic speakers in a closed straight-front cabinet, captured by a "
     "dynamic microphone at the cap edge of the upper-left speaker through a clean solid-state"
     " preamp, with the full low end of the box.",
     1, &kFactoryIrImages[13]},
    {"4x12 Closed Room Mic",
     "The closed straight-front cabinet with four twelve-inch ceramic speakers, heard from "
     "five feet away by a large-diaphragm condenser at chest height through a valve preamp, "
     "with the floor and room ringing around it.",
     0, &kFactoryIrImages[14]},
}};

constexpr std::string_view kMainSuffix = " (MAIN)";

}  // namespace

const FactoryIrCatalogue& factoryIrCatalogue() {
    return kCatalogue;
}

std::string_view factoryIrDisplayName(int index) {
    if (index < 0 || index >= kFactoryIrCount) return {};
    // Built once, so that drawing a frame never allocates.
    static const std::array<std::string, kFactoryIrCount> names = [] {
        std::array<std::string, kFactoryIrCount> out;
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = std::string(kCatalogue[i].name);
            if (kCatalogue[i].isMain) out[i] += kMainSuffix;
        }
        return out;
    }();
    return names[static_cast<size_t>(index)];
}

}  // namespace halvard
