// The sweep on captures made through known G.168 echo path models: each pass gives a single
// run's bits, the recommendation covers the model's energy, a short tail cancels less, a shift
// of 0 shows no NLP; and the runner that carries it (each job once, stop, errors).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <bit>
#include <cstdint>
#include <numeric>
#include <tuple>
#include <stdexcept>

#include "engine/EchoTester.h"
#include "engine/PreparedCaptures.h"
#include "engine/TestThresholds.h"
#include "evidence/G168Models.h"
#include "evidence/PassRunner.h"
#include "evidence/Sweep.h"
#include "support/SilentUi.h"
#include "support/SyntheticCaptures.h"
#include "ui/RunRequest.h"

using namespace tarnwell;
using namespace tarnwell::testcaptures;

namespace {

constexpr int kCount = 80000;  // 10 s
constexpr int kBulkDelay = 100;
constexpr int kEchoOffset = 5;  // the model's first tap, samples after the bulk delay

// Tx bursts and their echo through the model, scaled to an ERL of 12 dB on the Tx itself.
struct ModelCaptures {
    TempDir dir;
    TestSettings settings;
    int spanLast = 0;  // last tap of the model's 99 % energy span, counted from the bulk delay
};

void MakeCaptures(ModelCaptures& c, int model)
{
    const Samples tx = Bursts(kCount, 2848.0, 1200, 0.0, 11);
    const std::vector<double> h = g168::ScaledTaps(g168::Models()[static_cast<std::size_t>(model)],
                                                   std::vector<double>(tx.begin(), tx.end()), 12.0);
    Samples rx(tx.size(), 0);
    const std::size_t delay = kBulkDelay + kEchoOffset;
    for (std::size_t n = 0; n < tx.size(); ++n) {
        double acc = 0.0;
        for (std::size_t k = 0; k < h.size() && k + delay <= n; ++k)
            acc += h[k] * tx[n - delay - k];
        rx[n] = ClampSample(acc);
    }
    WritePcm(c.dir.File("tx.pcm"), tx);
    WritePcm(c.dir.File("rx.pcm"), rx);
    const double energy = std::inner_product(h.begin(), h.end(), h.begin(), 0.0);
    double cumulative = 0.0;
    for (std::size_t k = 0; k < h.size() && cumulative < 0.995 * energy; ++k) {
        cumulative += h[k] * h[k];
        c.spanLast = kEchoOffset + static_cast<int>(k);
    }
    c.settings = DefaultRunRequest(2).settings;  // a device row with editable delay and tail
    std::tie(c.settings.txPath, c.settings.rxPath, c.settings.outPath, c.settings.delay) = std::tuple{
        c.dir.File("tx.pcm"), c.dir.File("rx.pcm"), c.dir.File("out.pcm"), kBulkDelay};
}

SweepOutcome Sweep(const TestSettings& base, const SweepGrid& grid, int threads = 2)
{
    SilentUi ui;
    RunnerControl control;
    control.threads = threads;
    return RunSweep(EchoTester{}, base, 2, grid, ui, control);
}

const SweepPoint& At(const SweepOutcome& o, int tail, int shift)
{
    return *std::find_if(o.points.begin(), o.points.end(), [&](const SweepPoint& p) {
        return p.settings.tail == tail && p.settings.nlpShift == shift;
    });
}

TEST(Sweep, EveryPassGivesTheSingleRunsBits)
{
    ModelCaptures c;
    MakeCaptures(c, 0);
    // Tails either side of the last one that leaves the found delay outside the window.
    const int delay = Sweep(c.settings, SweepGrid{{128}, {kBulkDelay}, {6}, {3}}).delay;
    const int edge = testthresholds::TailForDelay(delay, kBulkDelay);
    const SweepGrid grid{{32, edge - 1, edge, 128}, {0, kBulkDelay}, {6}, {0, 3}};
    const SweepOutcome o = Sweep(c.settings, grid);
    ASSERT_TRUE(o.ready && o.points.size() == 16u);
    for (const SweepPoint& p : o.points) {
        TestResults single{};
        SilentUi ui;
        ASSERT_TRUE(EchoTester{}.RunTest(p.settings, single, ui));
        // Exact: the same doubles' bits, not merely close ones.
        const auto bits = [](const TestResults& r) {
            const auto b = [](double v) { return std::bit_cast<std::uint64_t>(v); };
            return std::make_tuple(b(r.cancellation), b(r.erl), b(r.residualLevel), b(r.txLevel),
                                   b(r.rxLevel), r.delay, r.delayOk, r.erlOk, r.levelsOk, r.residualOk);
        };
        EXPECT_EQ(bits(p.results), bits(single)) << "tail " << p.settings.tail << " delay "
                                                 << p.settings.delay << " shift " << p.settings.nlpShift;
    }
}

// The stop flag ends a pass at its next frame (the window's Cancel does not wait for whole
// passes), and the pass says so, so that its partial figures are not taken for a measurement.
TEST(Sweep, AStopFlagEndsAPassAtItsNextFrame)
{
    ModelCaptures c;
    MakeCaptures(c, 0);
    PreparedCaptures prepared;
    SilentUi ui;
    ASSERT_TRUE(PrepareCaptures(EchoTester{}, c.settings, prepared, ui));
    const std::atomic<bool> stop{true};
    TestResults results{};
    AnalysisRecord record;
    EXPECT_FALSE(RunPreparedPass(EchoTester{}, prepared, c.settings, results, &record, &stop));
    EXPECT_EQ(record.frames.size(), 1u);
}

class SweepOnModel : public ::testing::TestWithParam<int> {};

TEST_P(SweepOnModel, MeasuresWhatTheModelNeeds)
{
    ModelCaptures c;
    MakeCaptures(c, GetParam());
    const SweepOutcome o = Sweep(c.settings,
                                 SweepGrid{{16, 32, 64, 96, 128, 160, 192, 256}, {kBulkDelay}, {6}, {0, 3}});
    ASSERT_TRUE(o.ready);
    const SweepRecommendation& r = o.recommendation;
    ASSERT_GE(r.chosen, 0) << r.text;
    const SweepPoint& chosen = o.points[static_cast<std::size_t>(r.chosen)];
    const SweepPoint& best = o.points[static_cast<std::size_t>(r.best)];
    // The measured tail covers the model's 99 % energy span.
    EXPECT_GT(chosen.settings.tail, c.spanLast) << r.text;
    EXPECT_GE(chosen.results.cancellation, best.results.cancellation - kRecommendationMarginDb);
    // A tail shorter than the echo path cancels measurably less.
    EXPECT_LT(At(o, 16, 3).results.cancellation, best.results.cancellation - 3.0);
    // A shift of 0 takes nothing off: no NLP frames, and the table says so.
    EXPECT_EQ(At(o, 128, 0).nlpFrames, 0);
    EXPECT_GT(At(o, 128, 3).nlpFrames, 0);
    EXPECT_NE(SweepTable(o).find("none"), std::string::npos);
    EXPECT_EQ(SweepView(o).marks.front().x, chosen.settings.tail);  // the measured tail marked
}

INSTANTIATE_TEST_SUITE_P(Models, SweepOnModel, ::testing::Values(0, 3, 5),
                         [](const auto& info) { return "D" + std::to_string(info.param + 2); });

TEST(Sweep, TheMinimalTailJoinsTheTailsInItsPlaceWhenAsked)
{
    ModelCaptures c;
    MakeCaptures(c, 0);
    for (const bool asked : {false, true}) {
        SweepGrid grid{{16, 1024}, {kBulkDelay}, {6}, {3}};
        grid.withMinimalTail = asked;
        const SweepOutcome o = Sweep(c.settings, grid);
        ASSERT_TRUE(o.ready);
        ASSERT_EQ(o.points.size(), asked ? 3u : 2u);
        EXPECT_EQ(o.points[1].settings.tail, asked ? MinimalTail(2, o.delay) : 1024);
        EXPECT_EQ(o.recommendation.text.find("not swept") == std::string::npos, asked)
            << o.recommendation.text;
    }
}

TEST(Sweep, RecommendationAgainstTheMinimalTail)
{
    const auto point = [](int tail, double cancellation, int delayOk = 1, double erle = 30.0) {
        SweepPoint p;
        p.erleDb = erle;
        p.ran = true;
        p.settings.tail = tail;
        p.results.cancellation = cancellation;
        p.results.delayOk = delayOk;
        p.results.residualOk = 1;
        return p;
    };
    // The points, the minimal tail, the point chosen and what the text says of it.
    const std::tuple<std::vector<SweepPoint>, int, int, const char*> cases[] = {
        {{point(32, 20.0), point(64, 27.5), point(128, 28.0)},
         128,
         1,
         "it would do, but the measured tail is 64"},
        {{point(32, 27.9, 0), point(64, 27.5), point(128, 28.0)}, 64, 1, "agrees"},
        {{point(32, 20.0), point(64, 26.0), point(128, 28.0)}, 64, 2, "too short"},
        {{point(64, 27.5), point(128, 28.0)}, 56, 0, "not swept"},
        {{point(64, 0.0), point(128, 0.0)}, 64, -1, "nothing to recommend"},
        {{point(64, 28.0, 1, 30.0), point(64, 28.0, 1, 48.0), point(64, 28.0, 1, 40.0)}, 64, 1, "agrees"},
    };
    for (const auto& [points, minimalTail, chosen, says] : cases) {
        const SweepRecommendation r = Recommend(points, minimalTail);
        EXPECT_TRUE(r.chosen == chosen && r.text.find(says) != std::string::npos)
            << r.chosen << " " << r.text;
    }
}

TEST(Sweep, ConvergenceIsWhenTheFigureHoldsAboveTheNlpDiff)
{
    const auto frames = [](int before, float early, int after, float late, std::size_t every = 1) {
        std::vector<float> f(static_cast<std::size_t>(before), early);
        for (std::size_t i = 0; i < static_cast<std::size_t>(after); ++i)
            f.push_back(i % every == 0 ? late : 0.0F);  // 0: a frame without a figure
        return f;
    };
    EXPECT_DOUBLE_EQ(ConvergedSeconds(frames(30, 4.0F, 100, 12.0F), 6), 0.30);
    EXPECT_TRUE(std::isnan(ConvergedSeconds(frames(30, 4.0F, 99, 12.0F), 6)));   // a second is 100 frames
    EXPECT_TRUE(std::isnan(ConvergedSeconds(frames(30, 12.0F, 100, 6.0F), 6)));  // the diff itself: not above
    EXPECT_TRUE(std::isnan(ConvergedSeconds(frames(50, 4.0F, 200, 12.0F, 20), 6)));  // 5 a second: too few
}

TEST(PassRunner, RunsEachJobOnceOnAnyNumberOfThreads)
{
    for (const auto& [total, threads] : {std::pair{0, 1}, {7, 2}, {64, 3}, {5, 64}}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(total));
        EXPECT_EQ(RunJobs(
                      total, [&](int i) { ++runs[static_cast<std::size_t>(i)]; },
                      RunnerControl{threads, {}, nullptr}),
                  total);
        EXPECT_TRUE(std::all_of(runs.begin(), runs.end(), [](const auto& r) { return r.load() == 1; }))
            << total << " jobs on " << threads;
    }
}

TEST(PassRunner, StopsOnTheFlagAndOnAnError)
{
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0};
    const auto stopAt10 = [&](int) { stop = ++ran >= 10 || stop; };
    const int done = RunJobs(100, stopAt10, RunnerControl{2, {}, &stop});
    // The other thread may have started one more.
    EXPECT_TRUE(done >= 10 && done <= 11 && done == ran.load()) << done << " " << ran.load();
    // An error comes back to the caller, and no job after the failing one starts.
    ran = 0;
    const auto failAt3 = [&](int i) {
        ++ran;
        if (i == 3) throw std::runtime_error("job 3");
    };
    EXPECT_THROW(RunJobs(100, failAt3, RunnerControl{1, {}, nullptr}), std::runtime_error);
    EXPECT_EQ(ran.load(), 4);
}

}  // namespace
