// Findings on captures built to trigger them, and on captures that must not; the echo path
// against a known hybrid model; and a run with its record giving the same bits as one without.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>

#include "engine/EchoTester.h"
#include "support/SyntheticCaptures.h"
#include "evidence/Findings.h"
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
    if (adjust) {
        adjust(request);
    }
    request.settings.txPath = dir.File("tx.pcm");
    request.settings.rxPath = dir.File("rx.pcm");
    request.settings.outPath = dir.File("out.pcm");
    SilentUi ui;
    Outcome o;
    o.ran = RunAndReport(request.settings, request.deviceType, ui, o.results, kVerdictWords, &o.analysis)
                .has_value();
    o.findings = MakeFindings(request.settings, request.deviceType, o.ran, o.results, o.analysis);
    return o;
}

const Finding* Find(const Outcome& o, const std::string& code)
{
    const auto it = std::find_if(o.findings.begin(), o.findings.end(),
                                 [&](const Finding& f) { return f.code == code; });
    return it == o.findings.end() ? nullptr : &*it;
}

Samples Clipped(Samples s, int every, std::int16_t level = 32767)
{
    for (std::size_t i = 0; i < s.size(); i += static_cast<std::size_t>(every)) s[i] = level;
    return s;
}

Samples Shifted(Samples s, int offset)
{
    for (auto& x : s) x = ClampSample(x + offset);
    return s;
}

// Near-end speech in the gaps of the Tx bursts, second half only.
Samples WithNearEnd(Samples rx)
{
    const Samples talk = Noise(kCount, 1500.0, 5);
    for (int i = kCount / 2; i < kCount; ++i) {
        if ((i / 1200) % 2 == 1 && (i / 1200) % 4 == 1) {
            rx[static_cast<std::size_t>(i)] = talk[static_cast<std::size_t>(i)];
        }
    }
    return rx;
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
    const struct {
        const char* code;
        Outcome raised;
        const char* textPattern;  // a regular expression the finding's text must contain
        const Outcome& mustNot;
    } cases[] = {
        {"no-echo", RunPair(tx, Noise(kCount, 900.0, 99)), "No echo found: .* is not a measurement", clean},
        {"swapped", RunPair(echo, tx), "Rx matches Tx 110 smp ahead", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200)), "Rx clips: 0.50 % of its samples", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200, -32768)), "Rx clips: 0.50 % of its samples", clean},
        {"clipping", RunPair(tx, Clipped(echo, 200, -32767)), "Rx clips: 0.50 % of its samples", clean},
        {"dc-offset", RunPair(Shifted(tx, 1000), echo), "Tx has a DC offset of 10[0-9][0-9] ", clean},
        {"tail-above-max", RunPair(tx, Echo(tx, 1300, 12.0, 20.0)),
         "tail of 1249 smp is above .* raise the bulk delay to at least 325", clean},
        {"tx-level-for-erl", RunPair(quietTx, Echo(quietTx, 110, 12.0, 5.0)),
         "No 100 ms Tx block lies between -20 and -10 dBm0 .*raise the Tx level", clean},
        {"delay-window", late,
         "Real Delay 200 smp is outside 101\u2013115 smp, the window that bulk delay 100 and tail 64 cover", clean},
        {"delay-window", RunPair(tx, echo, [](RunRequest& r) { r.settings.tail = 48; }), "tail 48 leaves no delay", clean},
        {"echo-past-tail", late, "beyond bulk delay 100 \\+ tail 64", clean},
        {"erl-gate", RunPair(tx, Echo(tx, 110, 3.0, 20.0)), "Cancellation did not run: ERL 3.0[0-9] dB", clean},
        {"no-near-end", clean, "rests on the echo alone", nearEnd},
    };
    for (const auto& c : cases) {
        const Finding* f = Find(c.raised, c.code);
        EXPECT_THAT(f ? f->text : "not raised", ::testing::ContainsRegex(c.textPattern)) << c.code;
        EXPECT_EQ(Find(c.mustNot, c.code), nullptr) << c.code << " raised on a capture that must not";
    }
}

TEST(Findings, EveryCheckVerdictHasAReason)
{
    // A no-echo capture fails the delay, residual and levels verdicts at once.
    const Samples tx = Speechlike();
    const Outcome o = RunPair(tx, Noise(kCount, 900.0, 99));
    ASSERT_TRUE(o.ran);
    const struct { int ok; const char* code; } verdicts[] = {{o.results.delayOk, "delay-window"}, {o.results.residualOk, "residual-check"},
                    {o.results.levelsOk, "levels-check"}};
    for (const auto& v : verdicts) {
        EXPECT_EQ(Find(o, v.code) != nullptr, v.ok == 0) << v.code;
    }
    EXPECT_EQ(Find(o, "no-echo")->severity, Severity::Warning);
}

// The hybrid echo path model D.2 of G.168, as spandsp's g168models.h tabulates it.
std::vector<double> ModelD2()
{
    std::ifstream file(TARNWELL_G168_MODELS);
    std::stringstream text;
    text << file.rdbuf();
    const std::string all = text.str();
    const std::size_t name = all.find("line_model_d2_coeffs");
    const std::size_t open = all.find('{', name);
    const std::size_t close = all.find('}', open);
    EXPECT_NE(close, std::string::npos) << "no D.2 table in " << TARNWELL_G168_MODELS;
    std::string body = close == std::string::npos ? "" : all.substr(open + 1, close - open - 1);
    std::replace(body.begin(), body.end(), ',', ' ');
    std::vector<double> h;
    std::stringstream numbers(body);
    for (double v; numbers >> v;) {
        h.push_back(v);
    }
    return h;
}

TEST(Findings, EchoPathFindsTheModelsPeakAndSpan)
{
    const std::vector<double> h = ModelD2();
    ASSERT_EQ(h.size(), 64u);
    const int modelPeak = static_cast<int>(std::max_element(h.begin(), h.end(), [](double a, double b) {
                                               return std::abs(a) < std::abs(b);
                                           }) - h.begin());
    const double energy = std::inner_product(h.begin(), h.end(), h.begin(), 0.0);
    // The model's own 99 % span: 0.5 % of its energy before the first tap, 0.5 % after the last.
    int modelFirst = -1;
    int modelLast = -1;
    double cumulative = 0.0;
    for (int j = 0; modelLast < 0; ++j) {
        cumulative += h[static_cast<std::size_t>(j)] * h[static_cast<std::size_t>(j)];
        modelFirst = modelFirst < 0 && cumulative > 0.005 * energy ? j : modelFirst;
        modelLast = cumulative >= 0.995 * energy ? j : -1;
    }
    const double gain = std::pow(10.0, -12.0 / 20.0) / std::sqrt(energy);  // ERL 12 dB on white Tx
    const Samples tx = Noise(kCount, 2848.0, 21);
    for (const int bulk : {100, 200}) {
        Samples rx(tx.size(), 0);
        for (std::size_t n = 0; n < tx.size(); ++n) {
            double acc = 0.0;
            for (std::size_t k = 0; k < h.size() && k + static_cast<std::size_t>(bulk) <= n; ++k) {
                acc += gain * h[k] * tx[n - static_cast<std::size_t>(bulk) - k];
            }
            rx[n] = ClampSample(acc);
        }
        const Outcome o = RunPair(tx, rx, [bulk](RunRequest& r) {
            r.deviceType = 2;  // an editable delay
            r.settings.delay = bulk;
            r.settings.tail = 128;
        });
        ASSERT_TRUE(o.ran);
        const EchoPathRecord& path = o.analysis.echoPath;
        ASSERT_TRUE(path.measured);
        EXPECT_NEAR(path.bulkDelay + path.peakTap, bulk + modelPeak, 1) << "bulk " << bulk;
        EXPECT_NEAR(path.spanFirst, modelFirst, 1) << "bulk " << bulk;
        EXPECT_NEAR(path.spanLast, modelLast, 1) << "bulk " << bulk;
        EXPECT_EQ(Find(o, "echo-past-tail"), nullptr);
    }
}

// Voiced speech repeats every pitch period, and so does its correlation with its own echo:
// the period as the highest autocorrelation of the window between 2.5 and 10 ms (400-100 Hz).
int PitchPeriod(const Samples& tx, int start)
{
    int period = 0;
    double best = -1.0;
    for (int lag = 20; lag <= 80; ++lag) {
        double sum = 0.0;
        for (int n = start; n + lag < start + kSegmentLength; ++n) {
            sum += double(tx[static_cast<std::size_t>(n)]) * tx[static_cast<std::size_t>(n + lag)];
        }
        if (sum > best) {
            best = sum;
            period = lag;
        }
    }
    return period;
}

TEST(Findings, TheShippedSamplesReadAsTheirEchoPathWasMade)
{
    // Bulk delay 100 and model D.2, largest at tap 6, 12 dB down, near-end speech while the far
    // end is silent: every verdict OK on row 0 (window 101-164), the delay 106 give or take the
    // one sample the model's shape moves the correlation peak, and only the voiced far end's
    // repetition to say.
    const Samples tx = ReadPcm(std::string(TARNWELL_SAMPLES_DIR) + "/tx.pcm");
    const Samples rx = ReadPcm(std::string(TARNWELL_SAMPLES_DIR) + "/rx.pcm");
    const Outcome o = RunPair(tx, rx);
    ASSERT_TRUE(o.ran);
    std::vector<std::string> codes;
    for (const Finding& f : o.findings) {
        codes.push_back(f.code);
    }
    EXPECT_THAT(codes, ::testing::ElementsAre("delay-ambiguous"));
    const DelaySearchRecord& d = o.analysis.delaySearch;
    EXPECT_NEAR(d.peakLag, 106, 1);
    EXPECT_EQ(o.results.delay, d.peakLag);
    EXPECT_NEAR(std::abs(d.secondLag - d.peakLag), PitchPeriod(tx, d.windowStart), 1)
        << "the second peak one pitch period from the first";
    EXPECT_GT(d.confidence, 1.0);
}

TEST(Findings, TheRecordChangesNoResultAndNoOutputByte)
{
    const Samples tx = Speechlike();
    const Samples rx = WithNearEnd(Echo(tx, 130, 12.0, 20.0));
    const TempDir dir;
    WritePcm(dir.File("tx.pcm"), tx);
    WritePcm(dir.File("rx.pcm"), rx);
    TestSettings s = DefaultRunRequest(7).settings;
    s.txPath = dir.File("tx.pcm");
    s.rxPath = dir.File("rx.pcm");
    SilentUi ui;
    TestResults plain{};
    TestResults recorded{};
    AnalysisRecord record;
    s.outPath = dir.File("plain.pcm");
    ASSERT_TRUE(EchoTester().RunTest(s, plain, ui));
    s.outPath = dir.File("recorded.pcm");
    ASSERT_TRUE(EchoTester().RunTest(s, recorded, ui, &record));
    EXPECT_EQ(std::memcmp(&plain, &recorded, sizeof plain), 0);
    EXPECT_EQ(ReadPcm(dir.File("plain.pcm")), ReadPcm(dir.File("recorded.pcm")));
    EXPECT_EQ(record.frames.size(), (tx.size() + 79) / 80);
    EXPECT_EQ(record.delaySearch.peakLag, plain.delay);
}

}  // namespace
