// G.168-style tests of the canceller as this tool builds it (its tail, bulk delay and NLP),
// over the hybrid echo path models D.2 to D.9. Each test is a list of phases: what Rin and
// Sgen carry, which echo path is in place, whether the weights are frozen, and what Sout is
// held to. Rin and the echo path's output plus Sgen (Sin) each pass through a G.711 µ-law
// round trip, as on a line. These are tests in the manner of G.168's, not a certification.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "evidence/ChartData.h"
#include "evidence/PassRunner.h"

namespace tarnwell::g168 {

inline constexpr double kRinDbm0 = -10.0;  // far-end level of every test
// The steady-state residual limit, relative to Rin. G.168 draws its limit as a curve over
// Rin; that figure is not reproduced here, and this one line stands in for it.
inline constexpr double kResidualBelowRinDb = 30.0;

enum class Source { kSilence, kCss, kNearCss, kHoth, kTones };

struct Signal {
    Source source = Source::kSilence;
    double levelDbm0 = 0.0;
    std::vector<double> hertz = {};  // kTones only
};

enum class Path { kModel, kNextModel, kOpen };  // the test's model, the one after it, none

enum class Rule {
    kNone,
    kAbsolute,         // Sout's peak <= limit dBm0
    kSgenPeak,         // <= the peak of Sgen (as Sin carries it) over the whole test + limit dB
    kResidual,         // <= Rin - kResidualBelowRinDb + limit dB
    kGrowthReference,  // this phase's peak is the reference of the kNoGrowth phase
    kNoGrowth,         // <= that reference + limit dB, and never held below -65 dBm0
};

struct Phase {
    double seconds = 0.0;
    Signal rin;
    Signal sgen;
    Path path = Path::kModel;
    bool frozen = false;
    Rule rule = Rule::kNone;
    double limit = 0.0;          // dBm0 or dB, as the rule reads it
    double settleSeconds = 0.0;  // Sout is judged from this long after the phase starts
};

struct TestCase {
    std::string name;     // "2A", "3B(a)"...
    std::string summary;  // one line: what it feeds and what it requires
    bool nlp = false;     // the NLP on (otherwise off)
    std::vector<Phase> phases;
};

std::span<const TestCase> Tests();

struct CancellerSetup {
    int tail = 128;     // taps
    int bulkDelay = 0;  // samples
    int nlpDiff = 6;    // dB
    int nlpShift = 3;   // 6 dB steps
};

// One test on one model at one ERL.
struct CellResult {
    std::string test;
    std::string model;
    double erlDb = 0.0;
    bool passed = false;
    double marginDb = 0.0;          // limit minus the worst measured level; negative: failed
    double worstDbm0 = 0.0;         // Sout's level where the margin is smallest
    double worstSeconds = 0.0;      // and when
    std::vector<double> soutDbm0;   // Sout's meter level, window by window (40 ms)
    std::vector<double> limitDbm0;  // the limit in each window; NaN where Sout is not judged
};

// The echo delay the tests place the model at: inside the canceller's window (a few samples
// after the bulk delay, as far as the model's length allows).
int EchoDelay(const CancellerSetup& setup, int modelLength);

CellResult RunCell(const TestCase& test, int model, const CancellerSetup& setup, double erlDb);

// Every test against every model at every ERL, on the shared runner; cells in the order test,
// then ERL, then model.
std::vector<CellResult> RunTable(const std::vector<const TestCase*>& tests, const CancellerSetup& setup,
                                 const std::vector<double>& erls, const RunnerControl& control);

// One cell's Sout level over time against its limit (drawn only where Sout is judged).
ChartView CellView(const CellResult& cell);

}  // namespace tarnwell::g168
