#include "model/edit_history.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

// A snapshot whose field `at` holds `value`, the rest 0.
SettingsSnapshot with(size_t at, int32_t value) {
    SettingsSnapshot s;
    s.values[at] = value;
    return s;
}

TEST(EditHistory, KeepsAHundredStepsPerProgramAndANewEditEndsRedo) {
    EditHistory h;
    for (int32_t i = 0; i < 105; ++i) h.record(3, with(0, i), with(0, i + 1));
    h.record(4, with(1, 0), with(1, 1));
    EXPECT_EQ(h.undoDepth(3), EditHistory::kDepth);
    for (int32_t i = 104; i >= 5; --i) {
        const auto step = h.undo(3);
        ASSERT_TRUE(step);
        EXPECT_EQ(step->before.values[0], i);
    }
    EXPECT_FALSE(h.undo(3)) << "the five oldest went";
    EXPECT_EQ(h.undo(4)->after.values[1], 1) << "each program its own";

    EXPECT_EQ(h.redo(3)->after.values[0], 6);
    EXPECT_EQ(h.redo(3)->after.values[0], 7);
    h.record(3, with(2, 0), with(2, 9));
    EXPECT_FALSE(h.redo(3)) << "a new edit ends what could be redone";
    EXPECT_EQ(h.undo(3)->after.values[2], 9);
    h.clear();
    EXPECT_FALSE(h.undo(3));
    EXPECT_FALSE(h.redo(4));
    EXPECT_FALSE(h.undo(-1));
}

TEST(EditHistory, ApplyingAChangeWritesOnlyTheFieldsItChanged) {
    DeviceMirror m;
    ProgramSettings r;
    r.reverb[1] = 1;
    r.filterB[0] = 2;
    r.loaded = 1;
    m.setRecord(7, r);
    m.mono = 1;
    const SettingsSnapshot before = captureSettings(m, 7);
    m.editRecord(7, [](ProgramSettings& e) { e.reverb[1] = 0; });
    m.midiChannel = 9;
    const SettingsSnapshot after = captureSettings(m, 7);

    m.mono = 0;  // a later edit of a field the step did not touch
    applySettingsChange(m, 7, after, before);
    EXPECT_EQ(m.record(7).reverb[1], 1);
    EXPECT_EQ(m.midiChannel, 0);
    EXPECT_EQ(m.mono, 0) << "left as it is now";
    EXPECT_EQ(m.record(7).filterB[0], 2);
    EXPECT_EQ(m.record(7).loaded, 1);
    applySettingsChange(m, 7, before, after);
    EXPECT_EQ(m.record(7).reverb[1], 0);
    EXPECT_EQ(m.midiChannel, 9);
}

}  // namespace
}  // namespace halvard
