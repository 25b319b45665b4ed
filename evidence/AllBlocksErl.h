// The echo loss over every 100 ms block that qualifies for the ERL, at a given delay, from the
// captures as read: the ERL line's single best-correlated block can be off by several dB on a
// dispersive path, or sit in a short stretch where the echo is louder.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/AnalysisRecord.h"

namespace tarnwell {

AllBlocksErlRecord MeasureAllBlocksErl(const std::vector<std::int16_t>& tx,
                                       const std::vector<std::int16_t>& rx, int delay);

}  // namespace tarnwell
