// Findings on captures built to trigger them, and on captures that must not; the echo path
// against a known hybrid model; and a run with its record giving the same bits as one without.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <tuple>
#include <utility>

#include "engine/EchoTester.h"
#include "support/SyntheticCaptures.h"
#include "evidence/Findings.h"
#include "evidence/G168Models.h"
#include "evidence/Measured.h"
#include "evidence/WhitenedEvidence.h"
#include "evidence/WhitenedDelay.h"
#include "ui/Report.h"
#include "ui/RunRequest.h"
#include "support/SilentUi.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kCount = 80000;  // 10 s

Samples Speechlike(double rms = 2848.0) { return Bursts(kCount, rms, 1200, 0.0, 11); }

struct Outcome {
    bool ran = false;
    TestResults results;
    AnalysisRecord analysis;
    std::vector<Finding> findings;
};

Outcome RunPair(const Samples& tx, const Samples& rx, const std::function<void(RunRequest&)>& adjust = {})
{
    const TempDir dir;
    WritePcm(dir.File("tx.pcm"), tx);
    WritePcm(dir.File("rx.pcm"), rx);
    RunRequest request = DefaultRunRequest();
    request.settings.txPath = dir.File("tx.pcm");
    request.settings.rxPath = dir.File("rx.pcm");
    request.settings.outPath = dir.File("out.pcm");
    if (adjust) adjust(request);
    SilentUi ui;
    Outcome o;
    o.ran = RunAndReport(request.settings, request.deviceType, ui, o.results, kVerdictWords, &o.analysis)
                .has_value();
    AddWhitenedEvidence(o.analysis);
    o.findings = MakeFindings(request.settings, request.deviceType, o.ran, o.results, o.analysis,
                              request.networkDelayMs);
    return o;
}

// A device row with the bulk delay and tail in use.
std::function<void(RunRequest&)> OnRow(int row, int bulkDelay, int tail)
{
    return [=](RunRequest& r) {
        std::tie(r.deviceType, r.settings.delay, r.settings.tail) = std::tie(row, bulkDelay, tail);
    };
}

const Finding* Find(const Outcome& o, const std::string& code)
{
    const auto it = std::ranges::find(o.findings, code, &Finding::code);
    return it == o.findings.end() ? nullptr : &*it;
}

Samples Clipped(Samples s, int every, std::int16_t level = 32767)
{
    for (std::size_t i = 0; i < s.size(); i += static_cast<std::size_t>(every))
        s[i] = level;
    return s;
}

// Near-end speech in the gaps of the Tx bursts, second half only.
Samples WithNearEnd(Samples rx)
{
    const Samples talk = Noise(kCount, 1500.0, 5);
    for (std::size_t i = kCount / 2; i < rx.size(); ++i)
        rx[i] = (i / 1200) % 4 == 1 ? talk[i] : rx[i];
    return rx;
}

// A hybrid echo path model of G.168, D.2 to D.9, and its largest tap.
const std::vector<double>& Model(int d) { return g168::Models()[static_cast<std::size_t>(d - 2)].taps; }

int LargestTap(const std::vector<double>& h)
{
    const auto largest = std::ranges::max_element(h, {}, [](double v) { return std::abs(v); });
    return static_cast<int>(largest - h.begin());
}

// Voiced speech of one speaker: glottal pulses every pitch samples (with a little jitter)
// through one formant, in 150 ms talk spurts, at about rms while talking. Two seeds give two
// unrelated utterances of the same voice.
Samples Voiced(double rms, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> jitter(-3, 3);
    std::vector<double> x(kCount, 0.0);
    for (int n = 0; n < kCount; n += 80 + jitter(generator))
        x[static_cast<std::size_t>(n)] = 1.0;
    double y1 = 0.0, y2 = 0.0, power = 0.0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double y = x[n] + 1.8036 * y1 - 0.9025 * y2;  // resonance at 600 Hz, pole radius 0.95
        y2 = std::exchange(y1, y);
        x[n] = ((n + seed * 331) / 1200) % 2 == 0 ? y : 0.0;  // talking
        power += x[n] * x[n] / kCount;
    }
    const double gain = rms / std::sqrt(2.0 * power);  // talking half the time
    Samples out(x.size());
    std::transform(x.begin(), x.end(), out.begin(), [&](double v) { return ClampSample(gain * v); });
    return out;
}

// tx through echo path h after bulk samples, scaled to an ERL of lossDb over the capture.
Samples ThroughModel(const Samples& tx, const std::vector<double>& h, int bulk, double lossDb)
{
    std::vector<double> e(tx.size(), 0.0);
    double txPower = 0.0, echoPower = 0.0;
    for (std::size_t n = 0; n < tx.size(); ++n) {
        for (std::size_t k = 0; k < h.size() && k + static_cast<std::size_t>(bulk) <= n; ++k) {
            e[n] += h[k] * tx[n - static_cast<std::size_t>(bulk) - k];
        }
        txPower += static_cast<double>(tx[n]) * tx[n];
        echoPower += e[n] * e[n];
    }
    const double gain = std::sqrt(txPower / echoPower) * std::pow(10.0, -lossDb / 20.0);
    Samples out(tx.size());
    std::transform(e.begin(), e.end(), out.begin(), [&](double v) { return ClampSample(gain * v); });
    return out;
}

Samples Sum(const Samples& a, const Samples& b)
{
    Samples out(a.size());
    for (std::size_t n = 0; n < a.size(); ++n)
        out[n] = ClampSample(static_cast<double>(a[n]) + b[n]);
    return out;
}

// The first half of a, then the second half of b.
Samples Spliced(Samples a, const Samples& b)
{
    std::copy(b.begin() + static_cast<std::ptrdiff_t>(b.size() / 2), b.end(),
              a.begin() + static_cast<std::ptrdiff_t>(a.size() / 2));
    return a;
}

// s read on a clock ppm faster: sample n is s at n * (1 - ppm 1e-6), linearly interpolated.
Samples Drifted(const Samples& s, double ppm)
{
    Samples out(s.size(), 0);
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double t = static_cast<double>(n) * (1.0 - ppm * 1e-6);
        const auto i = static_cast<std::size_t>(t);
        const double f = t - static_cast<double>(i);
        out[n] = i + 1 < s.size() ? ClampSample((1.0 - f) * s[i] + f * s[i + 1]) : 0;
    }
    return out;
}

// s through a resonance of gainDb at hz, a third of an octave wide (a peaking biquad).
Samples Resonant(const Samples& s, double hz, double gainDb)
{
    const double a = std::pow(10.0, gainDb / 40.0);
    const double w = 2.0 * M_PI * hz / 8000.0;
    const double alpha = std::sin(w) / (2.0 * 4.32);
    const double b0 = 1.0 + alpha * a, b1 = -2.0 * std::cos(w), b2 = 1.0 - alpha * a;
    const double a0 = 1.0 + alpha / a, a2 = 1.0 - alpha / a;
    Samples out(s.size());
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double y = (b0 * s[n] + b1 * x1 + b2 * x2 - b1 * y1 - a2 * y2) / a0;
        x2 = std::exchange(x1, s[n]);
        y2 = std::exchange(y1, y);
        out[n] = ClampSample(y);
    }
    return out;
}

// Mains hum of the given frequencies, each at rms.
Samples Hum(std::initializer_list<double> hz, double rms)
{
    Samples out(kCount);
    for (int n = 0; n < kCount; ++n) {
        double v = 0.0;
        for (const double f : hz)
            v += rms * std::sqrt(2.0) * std::sin(2.0 * M_PI * f * n / 8000.0);
        out[static_cast<std::size_t>(n)] = ClampSample(v);
    }
    return out;
}

Samples Shaped(Samples s, const std::function<double(double)>& shape)
{
    for (auto& x : s)
        x = ClampSample(shape(x));
    return s;
}

TEST(Findings, EachFamilyOnACaptureThatTriggersItAndOneThatMustNot)
{
    const Samples tx = Speechlike();
    const Samples echo = Echo(tx, 110, 12.0, 20.0);
    const Samples quietTx = Speechlike(800.0);  // about -26 dBm0: no block between -20 and -10
    // Echo at 110 on row 0, 12 dB down, unclipped, without DC: a clean capture that must raise
    // none of these families but "no-near-end", which near-end speech in turn must silence.
    const Outcome clean = RunPair(tx, echo);
    const Outcome nearEnd = RunPair(tx, WithNearEnd(echo));
    const Outcome late = RunPair(tx, Echo(tx, 200, 12.0, 20.0));
    // The echo 8 dB louder in the Rx block after the first Tx block only: the ERL line rests on it.
    Samples oneLoudBlock = echo;
    const Samples loud = Echo(tx, 110, 4.0, 20.0);
    std::copy(loud.begin() + 110, loud.begin() + 910, oneLoudBlock.begin() + 110);
    Samples square(kCount);
    for (int n = 0; n < kCount; ++n)
        square[static_cast<std::size_t>(n)] = (n / 20) % 2 == 0 ? 8000 : -8000;
    const Outcome repeating = RunPair(square, Echo(square, 100, 8.0));
    const Samples voice = Voiced(2848.0, 1);
    const Outcome voiceEcho = RunPair(voice, ThroughModel(voice, Model(2), 100, 10.0));
    const Outcome noEcho = RunPair(voice, Voiced(505.0, 2));  // the same voice, unrelated, at -30 dBm0
    // Another voice at -20 dBm0 over the whole capture, the far end pausing 0.5 s in every 2 s:
    // the median block is double talk too.
    Samples paused = voice;
    for (auto i = paused.begin() + 12000; i < paused.end(); i += 16000)
        std::fill_n(i, 4000, 0);
    const Outcome talkingThroughout = RunPair(
        paused, Sum(ThroughModel(paused, Model(2), 100, 10.0), Voiced(1597.0, 2)));
    const struct {
        const char* code;
        Outcome raised;
        const char* textPattern;  // a regular expression the finding's text must contain
        const Outcome& mustNot;
    } cases[] = {
        {"no-echo", noEcho, "No echo found: .*Real Delay [0-9]+ smp and ERL [0-9.]+ dB are not measurements",
         voiceEcho},
        {"delay-window", RunPair(tx, Noise(kCount, 900.0, 99)), "no echo was found, so no bulk delay or tail",
         clean},
        {"delay-window", RunPair(echo, tx), "the files look swapped: exchange them", clean},
        {"swapped", RunPair(echo, tx), "the echo arrives in Tx 110 smp after Rx .* at lag -110", repeating},
        {"delay-ambiguous", repeating, "Tx repeats itself", clean},
        {"identical-captures", RunPair(tx, tx), "Tx and Rx hold the same 80000 samples: one signal", clean},
        {"erl-disagrees", RunPair(tx, oneLoudBlock),
         "The ERL line's (3\\.9|4\\.0)[0-9] dB rests on one 100 ms block; .* give 1[12]\\.[0-9]+ dB",
         talkingThroughout},
        {"delay-ambiguous", RunPair(tx, Sum(echo, Echo(tx, 700, 14.0))),
         "peaks at 110 smp and again at 700 smp", clean},
        {"delay-disagrees", RunPair(voice, ThroughModel(voice, Model(5), 100, 10.0)),
         "Real Delay [0-9]+ smp and the whitened delay search \\(117 smp\\) differ", voiceEcho},
        {"delay-jump", RunPair(tx, Spliced(echo, Echo(tx, 190, 12.0, 20.0))),
         "jumps from 110 to 190 smp at about [3-6]\\.[0-9] s", clean},
        {"delay-drift", RunPair(tx, Drifted(echo, 100.0)),
         "drifts by \\+[78]\\.[0-9] smp .* \\(\\+(9[0-9]|10[0-9]) ppm\\)", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200)), "Rx clips: 0.50 % of its samples", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200, -32768)), "Rx clips: 0.50 % of its samples", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200, -32767)), "Rx clips: 0.50 % of its samples", clean},
        {"dc-offset", RunPair(Sum(tx, Samples(kCount, 1000)), echo), "Tx has a DC offset of 10[0-9][0-9] ",
         clean},
        {"tail-above-max", RunPair(tx, Echo(tx, 1300, 12.0, 20.0)),
         "tail of 1249 smp is above .* while Vestra A - FXO fixes the bulk delay at 100", clean},
        {"tx-level-for-erl", RunPair(quietTx, Echo(quietTx, 110, 12.0, 5.0)),
         "No 100 ms Tx block lies between -20 and -10 dBm0 .*raise the Tx level", clean},
        {"delay-window", late,
         "Real Delay 200 smp is outside 101\u2013115 smp, the window that bulk delay 100 and tail 64 cover",
         clean},
        {"delay-window", RunPair(tx, echo, [](RunRequest& r) { r.settings.tail = 48; }),
         "tail 48 leaves no delay", clean},
        {"echo-past-tail", late, "beyond bulk delay 100 \\+ tail 64", clean},
        {"erl-gate", RunPair(tx, Echo(tx, 110, 3.0, 20.0)), "Cancellation did not run: ERL 3.0[0-9] dB",
         clean},
        {"no-near-end", clean, "rests on the echo alone", nearEnd},
        // 20 dB louder in the 200 Hz band than the rest, whose ERL is 20 dB: the ERL line passes.
        {"erl-band", RunPair(tx, Resonant(Echo(tx, 110, 20.0, 20.0), 200.0, 20.0)),
         "ERL -?[0-5]\\.[0-9]+ dB at 200 Hz .* while the broadband ERL reads 1[0-9]\\.[0-9]+ dB", voiceEcho},
        // -35 dBm0 of 50 Hz and two harmonics; the high-pass filter is on.
        {"hum", RunPair(tx, Sum(echo, Hum({50.0, 100.0, 150.0}, 285.0))),
         "Rx carries mains hum: 50 Hz and its harmonics stand [0-9.]+ dB above .* earthing fault", clean},
        // Voiced speech at a steady 100 Hz pitch has lines at 50 Hz's harmonics, but none at 50 Hz.
        {"hum", RunPair(tx, Sum(echo, Hum({60.0, 180.0}, 285.0))), "Rx carries mains hum: 60 Hz", voiceEcho},
        // An overloaded hybrid: the echo through tanh, at most 2500 (-16 dBm0), 3 dB down. A
        // strictly periodic voice would not do: its clipped echo is a linear filter of it.
        {"nonlinear-echo",
         RunPair(tx, Shaped(ThroughModel(tx, Model(2), 100, 3.0),
                            [](double e) { return 2500.0 * std::tanh(e / 2500.0) * 0.7; })),
         "The echo is not linear in Tx: at Tx's loudest moments it returns [0-9.]+ dB weaker", clean},
        {"echo-audibility", clean,
         "ERL 1[12]\\.[0-9] \\+ cancellation [0-9.]+ dB\\) stays acceptable up to a one-way network delay",
         noEcho},
        {"audible-echo", RunPair(tx, echo, [](RunRequest& r) { r.networkDelayMs = 400; }),
         "hear the echo at a one-way network delay of 400 ms .* and 400 ms needs [0-9.]+ dB more echo loss",
         clean},
    };
    for (const auto& c : cases) {
        const Finding* f = Find(c.raised, c.code);
        EXPECT_THAT(f ? f->text : "not raised", ::testing::ContainsRegex(c.textPattern)) << c.code;
        EXPECT_EQ(Find(c.mustNot, c.code), nullptr) << c.code << " raised on a capture that must not";
    }
}

// The settings finding a user reads first, on runs whose advice once went wrong: an echo the
// row's fixed bulk delay puts out of reach, one that sent the advice round in a circle, and Rx
// the same samples as Tx, which is no absent echo.
TEST(Findings, TheSettingsFindingComesFirstAndSaysWhatToSetOrFix)
{
    const Samples tx = Speechlike();
    const Samples far = Echo(tx, 1263, 12.0, 20.0);
    const struct {
        const char* name;
        Outcome o;
        const char* settings;  // a regular expression the settings finding must match whole
        const char* also;      // a finding that must stand behind it, if any
    } cases[] = {
        {"echo beyond a fixed delay", RunPair(tx, Echo(tx, 1300, 12.0, 20.0)),
         "Vestra A - FXO fixes the bulk delay at 100, so a tail of 1249, above the canceller's 1024, "
         "would be needed to cover the echo at 1300 smp .*; device rows that can: 2 \\(Vestra A - ISDN\\), "
         "5 \\(Vestra B - FXS\\), 7 \\(Vestra C - FXO\\), 8 \\(Vestra C - ISDN\\), 9 \\(Vestra D - E1/T1\\)",
         "tail-above-max"},
        {"echo before a fixed delay", RunPair(tx, Echo(tx, 60, 12.0, 20.0), OnRow(1, 80, 64)),
         "Vestra A - FXS fixes the bulk delay at 80, after the echo's start at 60 smp, so no tail covers .*; "
         "device rows that can: 2 .*",
         "delay-window"},
        // Older findings sent 80/128 to bulk delay 288, then to tail 1024, then back to "raise the
        // bulk delay": one step now, and the setting it gives is kept.
        {"the circle at its start", RunPair(tx, far, OnRow(9, 80, 128)),
         "Set bulk delay 1250 and tail 64: they cover the echo at 1263 smp and the 48 smp after it that "
         "the tail needs.*",
         "delay-window"},
        {"the circle followed", RunPair(tx, far, OnRow(9, 1250, 64)), "Keep bulk delay 1250 and tail 64: .*",
         nullptr},
        {"the circle at 288/1024", RunPair(tx, far, OnRow(9, 288, 1024)),
         "Keep bulk delay 288 and tail 1024: they cover 99 % of the echo path .*", "tail-above-max"},
        {"same file as both", RunPair(tx, tx, [](RunRequest& r) { r.settings.rxPath = r.settings.txPath; }),
         "No setting to advise: Tx and Rx hold the same 80000 samples \\(one file given as both\\), .*",
         "identical-captures"},
        {"identical samples in two files", RunPair(tx, tx),
         "No setting to advise: Tx and Rx hold the same 80000 samples \\(two files with the same "
         "samples\\), .*",
         "identical-captures"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.o.findings.empty()) << c.name;
        EXPECT_EQ(c.o.findings.front().code, "settings") << c.name;
        EXPECT_THAT(c.o.findings.front().text, ::testing::MatchesRegex(c.settings)) << c.name;
        EXPECT_TRUE(c.also == nullptr || Find(c.o, c.also) != nullptr) << c.name << ": no " << c.also;
        EXPECT_EQ(Find(c.o, "no-echo"), nullptr) << c.name;
    }
}

// Every verdict that reads CHECK has its reason (a warning), and every one the capture could
// not measure an info saying what it lacks. The delay and ERL lines' reasons stay beside it
// (their lines read CHECK, and the gate did stop the pass); the residual's and levels' never.
TEST(Findings, EveryCheckVerdictHasAReasonAndEveryUnmeasuredOneWhatTheCaptureLacks)
{
    const Samples tx = Speechlike();
    const Samples quietTx = Speechlike(800.0);
    const Samples echo = Echo(tx, 110, 12.0, 20.0);
    // Per verdict (delay, ERL, residual, levels): O, C or - (not measured).
    const struct {
        Outcome o;
        const char* expected;
    } cases[] = {
        {RunPair(tx, Noise(kCount, 900.0, 99)), "---C"},  // no echo: nothing rests on an echo
        {RunPair(echo, tx), "----"},                      // swapped
        {RunPair(tx, echo), "OOO-"},                      // far end only
        {RunPair(tx, WithNearEnd(echo)), "OOOO"},
        {RunPair(quietTx, Echo(quietTx, 110, 12.0, 5.0)), "O---"},  // no block for the ERL
        {RunPair(tx, Echo(tx, 110, 3.0, 20.0)), "OC--"},            // the ERL gate on a measured ERL
        {RunPair(tx, Echo(tx, 200, 12.0, 20.0)), "COCC"},  // late: Rx keeps its echo, so levels are measured
    };
    const char* const checkCodes[] = {"delay-window", "erl-gate", "residual-check", "levels-check"};
    for (const auto& c : cases) {
        ASSERT_TRUE(c.o.ran) << c.expected;
        const Verdicts v = ReadVerdicts(c.o.ran, c.o.results, c.o.analysis, c.o.findings);
        std::string seen;
        for (std::size_t i = 0; i < v.items.size(); ++i) {
            const Reading reading = v.items[i].reading;
            seen += reading == Reading::kOk ? 'O' : reading == Reading::kCheck ? 'C' : '-';
            // The delay and ERL lines' reasons may stand beside an OK line; the others' never.
            const bool check = Find(c.o, checkCodes[i]) != nullptr;
            EXPECT_TRUE(check == (reading == Reading::kCheck) || (i < 2 && reading != Reading::kCheck))
                << c.expected << ": " << checkCodes[i];
            const Finding* gap = Find(c.o, std::string(kVerdictKeys[i]) + "-not-measured");
            EXPECT_TRUE(gap ? reading == Reading::kNotMeasured && gap->severity == Severity::Info &&
                                  gap->text.ends_with(v.items[i].reason)
                            : reading != Reading::kNotMeasured)
                << c.expected << ": " << kVerdictKeys[i];
        }
        EXPECT_EQ(seen, c.expected);
    }
    // Tx silent in the second half but for one 80 ms burst that the delay search's template
    // needs: it is the far end the levels row lacks.
    Samples firstHalf = tx;
    std::fill(firstHalf.begin() + kCount / 2, firstHalf.end(), 0);
    std::copy_n(tx.begin() + 1000, 640, firstHalf.begin() + kCount / 2 + 4000);
    const Outcome early = RunPair(firstHalf, Echo(firstHalf, 110, 12.0, 20.0));
    ASSERT_TRUE(early.ran);
    EXPECT_EQ(ReadVerdicts(true, early.results, early.analysis, early.findings).levels().reason,
              unmeasured::kNoFarEnd);
    EXPECT_EQ(
        Find(cases[2].o, "levels-not-measured")->text,  // far end only
        "Rx / Tx level avg. (and so the Tx gain decrease) not measured: no near-end speech in the second "
        "half: talk at the far end of the line for the last third of the capture, or ignore the levels "
        "row");
}

TEST(Findings, EchoPathFindsTheModelsPeakAndSpan)
{
    const std::vector<double>& h = Model(2);
    // The model's own 99 % span: 0.5 % of its energy before the first tap, 0.5 % after the last.
    std::vector<double> e(h.size());
    std::transform(h.begin(), h.end(), e.begin(), [](double v) { return v * v; });
    std::partial_sum(e.begin(), e.end(), e.begin());
    const auto modelFirst = std::upper_bound(e.begin(), e.end(), 0.005 * e.back()) - e.begin();
    const auto modelLast = std::lower_bound(e.begin(), e.end(), 0.995 * e.back()) - e.begin();
    const Samples tx = Noise(kCount, 2848.0, 21);
    for (const int bulk : {100, 200}) {
        const Outcome o = RunPair(tx, ThroughModel(tx, h, bulk, 12.0), OnRow(2, bulk, 128));
        ASSERT_TRUE(o.ran);
        const EchoPathRecord& path = o.analysis.echoPath;
        ASSERT_TRUE(path.measured);
        EXPECT_NEAR(path.bulkDelay + path.peakTap, bulk + LargestTap(h), 1) << "bulk " << bulk;
        EXPECT_NEAR(path.spanFirst, modelFirst, 1) << "bulk " << bulk;
        EXPECT_NEAR(path.spanLast, modelLast, 1) << "bulk " << bulk;
    }
}

TEST(Findings, TheShippedSamplesReadAsTheirEchoPathWasMade)
{
    // Bulk delay 100 and model D.2, largest at tap 6, 12 dB down, near-end speech while the far
    // end is silent: every verdict OK on row 0 (window 101-164), the delay 106 give or take the
    // one sample the model's shape moves the correlation peak, and nothing to say: the
    // template's second peak one pitch period away is the voice, not a second echo.
    const Samples tx = ReadPcm(std::string(TARNWELL_SAMPLES_DIR) + "/tx.pcm");
    const Samples rx = ReadPcm(std::string(TARNWELL_SAMPLES_DIR) + "/rx.pcm");
    const Outcome o = RunPair(tx, rx);
    ASSERT_TRUE(o.ran);
    std::vector<std::string> codes;
    for (const Finding& f : o.findings)
        codes.push_back(f.code);
    // No warning and no ambiguity about the delay: only the settings to keep and how long a
    // delay the echo left bears.
    EXPECT_THAT(codes, ::testing::ElementsAre("settings", "echo-audibility"));
    EXPECT_THAT(o.findings.front().text, ::testing::StartsWith("Keep bulk delay 100 and tail 64"));
    EXPECT_EQ(o.analysis.whitenedDelay.peakLag, 106);  // the largest tap of D.2 after bulk 100
    const DelaySearchRecord& d = o.analysis.delaySearch;
    EXPECT_NEAR(d.peakLag, 106, 1);
    EXPECT_EQ(o.results.delay, d.peakLag);
    EXPECT_GT(d.confidence, 1.0);
}

TEST(WhitenedDelay, LiesWithin3SamplesOfEachModelsLargestTapOnVoicedSpeech)
{
    const Samples voice = Voiced(2848.0, 3);
    for (int d = 2; d <= 9; ++d) {
        for (const int bulk : {0, 1200}) {
            const WhitenedSearch s = SearchWhitenedDelay(voice, ThroughModel(voice, Model(d), bulk, 10.0));
            EXPECT_NEAR(s.delay.peakLag, bulk + LargestTap(Model(d)), 3) << "D." << d << " bulk " << bulk;
        }
    }
}

TEST(CauseFirst, NamesTheFirstWarningThatExplainsARefusalThenTheMessage)
{
    const Finding swapped{"swapped", Severity::Warning, "Tx and Rx look swapped: the echo arrives in Tx"};
    const Finding quiet{"tx-level-for-erl", Severity::Warning,
                        "No 100 ms Tx block lies between -20 and -10 dBm0 (the loudest is -25.7 dBm0), so"};
    const Finding window{"delay-window", Severity::Warning, "Real Delay 90 smp is outside 101-115 smp"};
    const Finding aside{"no-echo", Severity::Info, "No echo found: for information only"};
    const std::string gate = "Echo Return Loss (ERL) is less than 6 dB. Cancellation stopped";
    EXPECT_EQ(CauseFirst({window, swapped, quiet}, gate), "Tx and Rx look swapped; " + gate);
    EXPECT_EQ(CauseFirst({quiet}, gate),
              "No 100 ms Tx block lies between -20 and -10 dBm0 (the loudest is -25.7 dBm0); " + gate);
    EXPECT_EQ(CauseFirst({swapped}, ""), "Tx and Rx look swapped");  // no refusal to follow: the cause alone
    EXPECT_EQ(CauseFirst({window, aside}, gate), gate);              // neither explains the gate
}

// The ERL line against the all-blocks figure, on records made by hand: near-end speech where
// Tx is quiet explains an all-blocks figure below the line, and only that.
TEST(Findings, ErlDisagreesUnlessTheNearEndTalksThroughout)
{
    // All-blocks dB against the line's 12, quiet Tx blocks, those with near-end speech, raised.
    const std::tuple<double, int, int, bool> rows[] = {
        {8.0, 10, 1, true}, {8.0, 9, 3, false}, {15.0, 10, 8, true}, {8.0, 0, 0, true}};
    for (const auto& [allBlocks, quiet, nearEnd, raised] : rows) {
        TestResults r{106, 0.0, 12.0, 0.0, 0.0, 0.0, 1, 1, 1, 1};
        AnalysisRecord a;
        a.whitenedDelay.measured = true;
        a.whitenedDelay.peakLag = a.whitenedDelay.positiveLag = 106;
        a.whitenedDelay.peak = a.whitenedDelay.positive = 0.5;
        a.whitenedDelay.median = 0.001;
        a.erl.measured = true;
        a.erl.qualifyingBlocks = 40;
        a.allBlocksErl = {true, 106, 40, 0, allBlocks, quiet, nearEnd};
        RunRequest request = DefaultRunRequest(2);
        OnRow(2, 100, 128)(request);
        const Outcome o{true, r, a, MakeFindings(request.settings, 2, true, r, a)};
        EXPECT_EQ(Find(o, "erl-disagrees") != nullptr, raised) << quiet << " " << nearEnd;
    }
}

}  // namespace
