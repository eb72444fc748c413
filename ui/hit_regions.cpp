#include "ui/hit_regions.hpp"

namespace halvard {

HitRegions::HitRegions() {
    // Every key the panel can register: 70 controls in at most three kinds.
    list_.reserve(static_cast<size_t>(kControlIdCount) * kKindCount);
    for (auto& row : index_) row.fill(-1);
}

int HitRegions::kindSlot(RegionKind kind) {
    switch (kind) {
        case RegionKind::PointerMove:
            return 0;
        case RegionKind::LeftButtonDown:
            return 1;
        case RegionKind::Wheel:
            return 2;
    }
    return -1;
}

int HitRegions::find(ControlId control, RegionKind kind) const {
    const int32_t c = toInt(control);
    const int k = kindSlot(kind);
    if (c >= 0 && c < kControlIdCount && k >= 0)
        return index_[static_cast<size_t>(c)][static_cast<size_t>(k)];
    for (size_t i = 0; i < list_.size(); ++i) {
        if (list_[i].control == control && list_[i].kind == kind) return static_cast<int>(i);
    }
    return -1;
}

void HitRegions::registerRegion(const HitRegion& region) {
    const int at = find(region.control, region.kind);
    if (at >= 0) {
        HitRegion& r = list_[static_cast<size_t>(at)];
        r.x = region.x;
        r.y = region.y;
        r.width = region.width;
        r.height = region.height;
        return;
    }
    const int32_t c = toInt(region.control);
    const int k = kindSlot(region.kind);
    if (c >= 0 && c < kControlIdCount && k >= 0) {
        index_[static_cast<size_t>(c)][static_cast<size_t>(k)] = static_cast<int32_t>(list_.size());
    }
    HitRegion added = region;
    added.hovered = false;
    list_.push_back(added);
}

bool HitRegions::isHovered(ControlId control) const {
    const int at = find(control, RegionKind::PointerMove);
    return at >= 0 && list_[static_cast<size_t>(at)].hovered;
}

void HitRegions::clearHovered() {
    for (HitRegion& r : list_) r.hovered = false;
}

}  // namespace halvard
