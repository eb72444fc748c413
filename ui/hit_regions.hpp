#pragma once
// Hit regions: the pointer-sensitive rectangles that the renderer registers while it draws a control,
// and the control identifiers that tie a rectangle to its action.
//
// The registry is owned by the user-interface thread: the renderer registers regions, the pointer
// handling reads them and changes their hover flags. Nothing else touches it.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace halvard {

// The number of every control. 52 and 53 are not assigned; 51, the MIDI channel's box, is a control
// for the keys and the screen readers only (its arrows are the pointer's): none of the three is ever
// registered as a region.
enum class ControlId : int32_t {
    StorePresetButton = 0,
    MidiChannelDown = 1,
    MidiChannelUp = 2,
    ProgramBox = 3,
    ProgramDown = 4,
    ProgramUp = 5,
    BypassSwitch = 6,
    ChannelSwitch = 7,
    ReverbSwitch = 8,
    TremoloSwitch = 9,
    IrBypassSwitch = 10,
    MonoButton = 11,
    LoopBypassSwitch = 12,
    RhythmIrChoice0 = 13,
    RhythmIrChoice1 = 14,
    RhythmIrChoice2 = 15,
    LeadIrChoice0 = 16,
    LeadIrChoice1 = 17,
    LeadIrChoice2 = 18,
    SlotSelect1 = 19,
    SlotSelect2 = 20,
    SlotSelect3 = 21,
    SlotSelect4 = 22,
    SlotSelect5 = 23,
    SlotSelect6 = 24,
    SlotImport1 = 25,
    SlotImport2 = 26,
    SlotImport3 = 27,
    SlotImport4 = 28,
    SlotImport5 = 29,
    SlotImport6 = 30,
    FactoryPrev = 31,
    FactoryNext = 32,
    ExtractAllButton = 33,
    SelectButton = 34,
    FactoryTitle = 35,
    FactoryRow0 = 36,
    FactoryRow14 = 50,
    MidiChannelBox = 51,
    AuditionSwitch = 54,
    SlotBrowse1 = 55,
    SlotBrowse2 = 56,
    SlotBrowse3 = 57,
    SlotBrowse4 = 58,
    SlotBrowse5 = 59,
    SlotBrowse6 = 60,
    BypassLockButton = 61,
    ReverbTailsButton = 62,
    RhythmHfComp = 63,
    RhythmLowpass = 64,
    RhythmHighpass = 65,
    LeadHfComp = 66,
    LeadLowpass = 67,
    LeadHighpass = 68,
    CcListToggle = 69,
    ProgramsOpener = 70,  // the program box's number: opens the PROGRAMS overlay
    ProgramRow0 = 71,     // the overlay's rows as shown, top to bottom
    ProgramRowLast = 110,
    ProgramsTab = 111,    // beside the overlay: its PROGRAMS view
    CollectionTab = 112,  // and its COLLECTION view, whose entries the same rows show
};

// The rows the PROGRAMS overlay shows at most.
inline constexpr int32_t kProgramRowsMax = 40;
inline constexpr int32_t kControlIdCount = 113;  // ids 0..112

constexpr int32_t toInt(ControlId c) {
    return static_cast<int32_t>(c);
}
// The control k places after c (FactoryRow0 + i, SlotSelect1 + k, ...).
constexpr ControlId operator+(ControlId c, int k) {
    return static_cast<ControlId>(toInt(c) + k);
}

// The event a region answers; the values are those of the platform's pointer events.
enum class RegionKind : int32_t {
    PointerMove = 2,     // hover tracking
    LeftButtonDown = 3,  // presses
    Wheel = 7,           // wheel turns
};

struct HitRegion {
    ControlId control = ControlId::StorePresetButton;
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    RegionKind kind = RegionKind::LeftButtonDown;
    bool hovered = false;  // the pointer was inside at the last pointer move (PointerMove regions)
};

// Both edges are inside: a region of width 11 covers 12 DIP columns.
constexpr bool contains(const HitRegion& r, int32_t px, int32_t py) {
    return r.x <= px && px <= r.x + r.width && r.y <= py && py <= r.y + r.height;
}

// The region list, keyed by (control, kind): at most one entry per key, entries in the order their
// key was first registered. The list only grows; a region stays with its last rectangle after its
// control is no longer drawn. Storage for every possible key is reserved up front, so registering
// never allocates once constructed.
class HitRegions {
public:
    HitRegions();

    // Replaces the rectangle of the entry with the same control and kind, keeping its place and its
    // hover flag; otherwise appends the region, not hovered.
    void registerRegion(const HitRegion& region);
    void registerRegion(ControlId control, int32_t x, int32_t y, int32_t w, int32_t h, RegionKind kind) {
        registerRegion(HitRegion{control, x, y, w, h, kind, false});
    }

    // The hover flag of the control's PointerMove entry; false when it has none.
    bool isHovered(ControlId control) const;
    void clearHovered();

    std::span<HitRegion> regions() { return list_; }
    std::span<const HitRegion> regions() const { return list_; }
    size_t size() const { return list_.size(); }

private:
    static constexpr int kKindCount = 3;
    static int kindSlot(RegionKind kind);
    int find(ControlId control, RegionKind kind) const;

    std::vector<HitRegion> list_;
    // Position in list_ of each known (control, kind), -1 when not registered. Ids outside 0..69
    // and unknown kinds are searched linearly.
    std::array<std::array<int32_t, kKindCount>, kControlIdCount> index_;
};

}  // namespace halvard
