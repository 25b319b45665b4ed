// The synthetic capture pairs of the golden runs, by name: golden_captures writes them for
// scripts/make-golden.py, and GoldenTest makes the same ones afresh.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "support/SyntheticCaptures.h"

namespace tarnwell::golden {

using CapturePair = std::pair<testcaptures::Samples, testcaptures::Samples>;  // Tx, Rx

inline std::map<std::string, CapturePair> SyntheticPairs()
{
    using namespace testcaptures;
    const Samples speech = Bursts(48000, 2848.0, 400, 30.0, 17);  // 50 ms bursts at about -15 dBm0
    const Samples odd = Bursts(48037, 2848.0, 4000, 0.0, 41);     // a last frame of 37 samples
    return {
        {"echo160", {speech, Echo(speech, 160, 12.0, 3.0)}},  // a clear echo 12 dB down
        {"erlgate", {speech, Echo(speech, 150, 3.0, 5.0)}},   // 3 dB down: the run stops at the gate
        {"echo700odd", {odd, Echo(odd, 700, 10.0, 8.0)}},     // far enough for the longest tail only
    };
}

}  // namespace tarnwell::golden
