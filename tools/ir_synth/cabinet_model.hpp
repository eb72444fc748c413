#pragma once
// A deterministic model of a miked guitar cabinet, used at build time to make the factory IRs.
//
// Each loudspeaker is a minimum-phase response designed in the frequency domain (low-end resonance
// with its Q, lower-mid scoop, cone breakup in the upper mids, a steep top-end roll-off and a little
// unit-to-unit ripple), coloured by the microphone (type, distance, position on the cone, angle).
// Around that the cabinet adds time structure: the other loudspeakers of a 2x or 4x cabinet reach a
// close microphone later, off axis and duller (comb filtering, added low end); an open back sends an
// inverted, diffracted wave around the cabinet; a distant microphone hears the floor and the room.

#include <cstdint>
#include <string>
#include <vector>

namespace halvard::irsynth {

enum class MicType { Dynamic, Ribbon, Condenser };

struct MicPlacement {
    MicType type = MicType::Dynamic;
    double distanceCm = 2.5;  // from the grille cloth
    double offCentre = 0.3;   // 0 dust-cap centre .. 1 cone edge
    double angleDeg = 0.0;    // off the loudspeaker's axis
    double level = 1.0;       // mix level
    double delayMs = 0.0;     // arrival after the first microphone (an imperfect blend alignment)
};

struct CabinetRecipe {
    int speakerInches = 12;  // 10 or 12
    int speakerCount = 1;    // 1, 2 or 4
    bool openBack = false;
    double depthCm =
        28.0;  // inside depth: sets the box modes of a closed cabinet, the back-wave path of an open one
    double resonanceHz = 90.0;
    double resonanceQ = 1.0;
    double scoopHz = 700.0;  // lower-mid dip
    double scoopDb = -2.0;
    double breakupHz = 2800.0;
    double breakupDb = 4.0;
    double rolloffHz = 5500.0;
    std::vector<MicPlacement> mics;
    double roomLevel = 0.0;   // 0 dry; the diffuse room tail relative to the direct sound
    double roomRt60 = 0.35;   // seconds
    double micHeightM = 0.0;  // 0: close microphone, no floor reflection; else height of a distant microphone
    uint64_t seed = 1;
};

struct SynthResult {
    std::vector<float> samples;  // kFactoryIrSamples samples, peak +0.98855 at index 4 or 5
    std::string error;           // empty on success
};

// The factory recipes, in catalogue order.
const std::vector<CabinetRecipe>& factoryRecipes();

SynthResult synthesiseCabinet(const CabinetRecipe& recipe);

}  // namespace halvard::irsynth
