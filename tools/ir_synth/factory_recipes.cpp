// The 15 factory cabinets, in catalogue order. Each recipe is the capture that the entry's label and
// description in ir/factory_catalogue.cpp speak of; keep the two lists in step.

#include "cabinet_model.hpp"

namespace halvard::irsynth {
namespace {

MicPlacement dynamic(double distanceCm, double offCentre, double angleDeg = 0.0, double level = 1.0) {
    return {MicType::Dynamic, distanceCm, offCentre, angleDeg, level, 0.0};
}

MicPlacement ribbon(double distanceCm, double offCentre, double level, double delayMs) {
    return {MicType::Ribbon, distanceCm, offCentre, 0.0, level, delayMs};
}

MicPlacement condenser(double distanceCm, double offCentre, double level = 1.0, double delayMs = 0.0) {
    return {MicType::Condenser, distanceCm, offCentre, 0.0, level, delayMs};
}

std::vector<CabinetRecipe> makeRecipes() {
    std::vector<CabinetRecipe> list;
    CabinetRecipe c;

    // 0: open-back pine combo, alnico 12, dynamic at the cap edge.
    c = {};
    c.openBack = true;
    c.depthCm = 24.0;
    c.resonanceHz = 95.0;
    c.resonanceQ = 0.8;
    c.scoopHz = 650.0;
    c.scoopDb = -2.5;
    c.breakupHz = 2600.0;
    c.breakupDb = 4.0;
    c.rolloffHz = 5200.0;
    c.mics = {dynamic(1.0, 0.35)};
    c.roomLevel = 0.04;
    c.seed = 101;
    list.push_back(c);

    // 1: the same combo, ribbon a hand's width back, on the cap.
    c.mics = {ribbon(15.0, 0.1, 1.0, 0.0)};
    c.roomLevel = 0.08;
    c.seed = 102;
    list.push_back(c);

    // 2: closed birch 1x12, ceramic speaker, dynamic right on the cap.
    c = {};
    c.depthCm = 27.0;
    c.resonanceHz = 85.0;
    c.resonanceQ = 1.2;
    c.scoopHz = 800.0;
    c.scoopDb = -3.0;
    c.breakupHz = 3200.0;
    c.breakupDb = 5.0;
    c.rolloffHz = 5600.0;
    c.mics = {dynamic(1.0, 0.0)};
    c.roomLevel = 0.03;
    c.seed = 103;
    list.push_back(c);

    // 3: the closed 1x12, large-diaphragm condenser at 30 cm.
    c.mics = {condenser(30.0, 0.3)};
    c.roomLevel = 0.12;
    c.seed = 104;
    list.push_back(c);

    // 4: the closed 1x12, dynamic 45 degrees off axis at the cap edge.
    c.mics = {dynamic(2.5, 0.4, 45.0)};
    c.roomLevel = 0.03;
    c.seed = 105;
    list.push_back(c);

    // 5: compact closed 1x12, high tuned and tight; dynamic with a small condenser.
    c = {};
    c.depthCm = 20.0;
    c.resonanceHz = 112.0;
    c.resonanceQ = 1.4;
    c.scoopHz = 600.0;
    c.scoopDb = -1.5;
    c.breakupHz = 3000.0;
    c.breakupDb = 4.0;
    c.rolloffHz = 5800.0;
    c.mics = {dynamic(2.0, 0.25), condenser(8.0, 0.5, 0.6, 0.04)};
    c.roomLevel = 0.03;
    c.seed = 106;
    list.push_back(c);

    // 6 (main): oversize closed 1x12, dynamic at the cap edge blended with a ribbon.
    c = {};
    c.depthCm = 30.0;
    c.resonanceHz = 90.0;
    c.resonanceQ = 1.1;
    c.scoopHz = 720.0;
    c.scoopDb = -2.0;
    c.breakupHz = 2900.0;
    c.breakupDb = 4.0;
    c.rolloffHz = 5500.0;
    c.mics = {dynamic(2.5, 0.35), ribbon(10.0, 0.3, 0.7, 0.05)};
    c.roomLevel = 0.04;
    c.seed = 107;
    list.push_back(c);

    // 7: closed 1x12 in a live room, condenser at 1.2 m.
    c = {};
    c.depthCm = 28.0;
    c.resonanceHz = 88.0;
    c.resonanceQ = 1.1;
    c.scoopHz = 750.0;
    c.scoopDb = -2.0;
    c.breakupHz = 3000.0;
    c.breakupDb = 3.5;
    c.rolloffHz = 5600.0;
    c.mics = {condenser(120.0, 0.2)};
    c.micHeightM = 1.1;
    c.roomLevel = 0.45;
    c.roomRt60 = 0.4;
    c.seed = 108;
    list.push_back(c);

    // 8: open-back 1x12, dynamic aimed at the cone half way out.
    c = {};
    c.openBack = true;
    c.depthCm = 22.0;
    c.resonanceHz = 100.0;
    c.resonanceQ = 0.75;
    c.scoopHz = 900.0;
    c.scoopDb = -1.5;
    c.breakupHz = 2400.0;
    c.breakupDb = 3.0;
    c.rolloffHz = 4900.0;
    c.mics = {dynamic(5.0, 0.7)};
    c.roomLevel = 0.05;
    c.seed = 109;
    list.push_back(c);

    // 9: thick closed 1x12, heavy high-power ceramic speaker; dynamic and condenser.
    c = {};
    c.depthCm = 29.0;
    c.resonanceHz = 100.0;
    c.resonanceQ = 1.0;
    c.scoopHz = 500.0;
    c.scoopDb = -3.5;
    c.breakupHz = 2200.0;
    c.breakupDb = 3.5;
    c.rolloffHz = 6000.0;
    c.mics = {dynamic(1.5, 0.2), condenser(15.0, 0.4, 0.5, 0.08)};
    c.roomLevel = 0.04;
    c.seed = 110;
    list.push_back(c);

    // 10: open-back 2x10 combo, dynamic on one speaker.
    c = {};
    c.speakerInches = 10;
    c.speakerCount = 2;
    c.openBack = true;
    c.depthCm = 23.0;
    c.resonanceHz = 118.0;
    c.resonanceQ = 0.85;
    c.scoopHz = 600.0;
    c.scoopDb = -2.0;
    c.breakupHz = 3500.0;
    c.breakupDb = 5.0;
    c.rolloffHz = 6400.0;
    c.mics = {dynamic(5.0, 0.3)};
    c.roomLevel = 0.05;
    c.seed = 111;
    list.push_back(c);

    // 11: open-back 2x12 combo, ribbon between the speakers and dynamic on one.
    c = {};
    c.speakerCount = 2;
    c.openBack = true;
    c.depthCm = 26.0;
    c.resonanceHz = 88.0;
    c.resonanceQ = 0.9;
    c.scoopHz = 700.0;
    c.scoopDb = -2.0;
    c.breakupHz = 2700.0;
    c.breakupDb = 4.0;
    c.rolloffHz = 5400.0;
    c.mics = {dynamic(5.0, 0.4), ribbon(20.0, 1.3, 0.6, 0.1)};
    c.roomLevel = 0.06;
    c.seed = 112;
    list.push_back(c);

    // 12 (main): closed 2x12, vintage-voiced speakers; dynamic at the cap edge, ribbon behind.
    c = {};
    c.speakerCount = 2;
    c.depthCm = 28.0;
    c.resonanceHz = 82.0;
    c.resonanceQ = 1.2;
    c.scoopHz = 750.0;
    c.scoopDb = -2.5;
    c.breakupHz = 2500.0;
    c.breakupDb = 4.5;
    c.rolloffHz = 5000.0;
    c.mics = {dynamic(5.0, 0.35), ribbon(20.0, 0.8, 0.5, 0.12)};
    c.roomLevel = 0.04;
    c.seed = 113;
    list.push_back(c);

    // 13 (main): closed straight-front 4x12, dynamic at the cap edge of the upper-left speaker.
    c = {};
    c.speakerCount = 4;
    c.depthCm = 36.0;
    c.resonanceHz = 76.0;
    c.resonanceQ = 1.3;
    c.scoopHz = 800.0;
    c.scoopDb = -3.0;
    c.breakupHz = 2800.0;
    c.breakupDb = 5.0;
    c.rolloffHz = 5300.0;
    c.mics = {dynamic(6.0, 0.4)};
    c.roomLevel = 0.04;
    c.seed = 114;
    list.push_back(c);

    // 14: the 4x12 from across the room, condenser at 1.5 m.
    c.mics = {condenser(150.0, 1.3)};
    c.micHeightM = 1.2;
    c.roomLevel = 0.4;
    c.roomRt60 = 0.45;
    c.seed = 115;
    list.push_back(c);

    return list;
}

}  // namespace

const std::vector<CabinetRecipe>& factoryRecipes() {
    static const std::vector<CabinetRecipe> recipes = makeRecipes();
    return recipes;
}

}  // namespace halvard::irsynth
