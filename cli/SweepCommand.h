// tarnwell-cli sweep: one capture pair, many canceller settings. The captures are read and
// filtered once; each setting's pass runs on the shared runner (-j threads). Prints a table
// (or --json), writes --csv, and recommends the smallest tail within 1 dB of the best
// cancellation, set against the report's Minimal tail. Exit status 0 when every pass ran,
// 1 when the captures could not be used or the sweep was stopped, 2 for a usage error.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

namespace tarnwell {

// "16:1024:16" (first:last:step, last included when the steps reach it), "16,32,64" or "128",
// each value within lo..hi; nullopt with the reason in why otherwise.
std::optional<std::vector<int>> ParseValueList(const std::string& text, int lo, int hi, std::string& why);

// The whole sweep command; argv[0] is "sweep".
int SweepMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
              const PictureWriter& pictures);

}  // namespace tarnwell
