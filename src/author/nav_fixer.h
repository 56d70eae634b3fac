// The NAV-pack fixer: the last step of authoring a VobGroup. Once the pieces are written, the
// cells numbered and the information files written, it fills the PCI and DSI packets of every
// VOB unit's NAV pack (addresses, times, cell numbers, buttons, the fast-forward and rewind
// tables, audio and subpicture synchronisation) and writes each sector back in place.
#pragma once

#include <cstdint>
#include <string>

#include "author/model.h"

namespace author {

// Search distances of the forward and backward tables, in half seconds, nearest first.
constexpr int kSearchDistanceCount = 19;
extern const int vobu_search_distances[kSearchDistanceCount];

// Rewrites the NAV pack of every VOB unit of the group in the pieces that `base` names (the base
// given to scan_vob_units). It always runs to the end, also after a cancel: the information
// files already describe every VOB unit, so a half-fixed disc would be inconsistent.
void fix_nav_packs(const std::string& base, VobGroup& group);

// Builds the PCI and DSI of VOB unit `index` of the Vob in its `nav_pack` copy.
void build_nav_pack(const VobGroup& group, Vob& vob, int index);

// One search-table entry of VOB unit `current` pointing at `target`: `none_value` when the
// target lies outside the Vob or in another cell, else the distance in sectors with bit 31 for
// a target with video; with `skip_test`, bit 30 marks video skipped over on the way.
uint32_t compute_vobu_search_offset(const Vob& vob, int target, int current, bool skip_test,
                                    uint32_t none_value);

// Sector of the packet of stream `slot` that plays at the start of the span [start, end], or -1.
int32_t find_audio_sector(const Vob& vob, int slot, int32_t start, int32_t end);

}  // namespace author
