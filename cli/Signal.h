// The signal verb: writes the composite test signal to play into a port, as WAV, raw 16-bit
// PCM, A-law or µ-law, chosen by the file's name as the captures are read.
#pragma once

#include "cli/Verbs.h"

namespace tarnwell {

int SignalMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
               const PictureWriter& pictures);

}  // namespace tarnwell
