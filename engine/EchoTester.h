// EchoTester: the echo test run. RunTest checks the settings, reads and screens both captures,
// estimates the echo delay and the ERL, runs the canceller over the whole capture, writes the
// cancelled Rx to the output file and fills TestResults; it reaches the user only via TestUi.
#pragma once

#include <array>
#include <cstdint>

#include "canceller/EchoCanceller.h"
#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "engine/TestUi.h"

namespace tarnwell {

inline constexpr int kSegmentLength = 600;  // delay template, samples
using DelayTemplate = std::array<std::int16_t, kSegmentLength>;

class EchoTester : public EchoCanceller {
public:
    ~EchoTester() override = default;

    // Echo delay in samples (1..1799), or 0 when none was found. Both captures hold count samples.
    // With a record, the whole lag curve and the negative lags are kept as evidence.
    int EstimateDelay(const std::int16_t* rx, const std::int16_t* tx, int count,
                      DelaySearchRecord* record = nullptr) const;

    // Start of the Tx window loudest in the upper voice band (0 when none); fills the template
    // with the unfiltered samples of that window.
    int FindLoudestSegment(const std::int16_t* tx, int count, DelayTemplate& segment) const;

    // ERL in dB from the best-correlated 800-sample block pair at the given delay; 0.0 when none.
    // Note the order: Tx first.
    double EstimateErl(const std::int16_t* tx, const std::int16_t* rx, int count, int delay,
                       ErlRecord* record = nullptr) const;

    // The whole test. results must be zeroed by the caller. True when results are to be reported.
    // With an analysis record the run also keeps its evidence there; the results are the same.
    bool RunTest(const TestSettings& settings, TestResults& results, TestUi& ui,
                 AnalysisRecord* analysis = nullptr) const;
};

}  // namespace tarnwell
