// Captures read, screened and high-pass filtered once, with the echo delay and the ERL found
// in them: all of a run that does not depend on the canceller's tail, bulk delay or NLP, so
// that many passes with different settings (a sweep) share it. Each pass gives the results a
// whole run with its settings gives, bit for bit, and writes no output.
#pragma once

#include <atomic>

#include "engine/AnalysisRecord.h"
#include "engine/EchoTester.h"
#include "engine/SampleBuffer.h"
#include "engine/TestSettings.h"
#include "engine/TestUi.h"

namespace tarnwell {

struct PreparedCaptures {
    SampleBuffer rx;  // filtered as the run filters it
    SampleBuffer tx;
    int count = 0;     // samples in each
    int delay = 0;     // echo delay found, samples (0: none)
    double erl = 0.0;  // dB
};

// The run up to the cancellation pass with settings' captures, channel, format and filter;
// the output file is not touched. False when a run would end there (no capture, no delay,
// the ERL gate...): the status and the message then went to ui as a run sends them, and the
// delay and the ERL hold what was found.
bool PrepareCaptures(const EchoTester& engine, const TestSettings& settings, PreparedCaptures& prepared,
                     TestUi& ui, AnalysisRecord* analysis = nullptr);

// One pass with settings' tail, bulk delay and NLP (in range) over prepared captures, which it
// only reads, so passes may run on several threads at once. results must be zeroed first.
// False when stop went up during the pass: it ended at that frame and its figures are partial.
bool RunPreparedPass(const EchoTester& engine, const PreparedCaptures& prepared, const TestSettings& settings,
                     TestResults& results, AnalysisRecord* analysis = nullptr,
                     const std::atomic<bool>* stop = nullptr);

}  // namespace tarnwell
