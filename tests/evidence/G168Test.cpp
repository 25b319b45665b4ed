// The G.168-style tests' parts: signals at their stated levels, the µ-law round trip, the
// models scaled to an ERL, cells that pass with good settings, and the table's verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

#include "engine/G711.h"
#include "evidence/G168Models.h"
#include "evidence/G168Signals.h"
#include "evidence/G168Tests.h"

using namespace tarnwell;
using namespace tarnwell::g168;

namespace {

double MeanSquareDbm0(const std::vector<double>& s, bool soundingOnly)
{
    double sum = 0.0, count = 0.0;
    for (const double v : s) {
        sum += !soundingOnly || v != 0.0 ? v * v : 0.0;
        count += !soundingOnly || v != 0.0 ? 1.0 : 0.0;
    }
    return 10.0 * std::log10(sum / count / kZeroDbm0MeanSquare);
}

TEST(G168Signals, LevelsAreAsAsked)
{
    constexpr int kCount = 4 * kSampleRate;
    EXPECT_NEAR(MeanSquareDbm0(CompositeSource(kCount, -10.0, 1), true), -10.0, 1e-9);  // while sounding
    EXPECT_NEAR(MeanSquareDbm0(HothNoise(kCount, -30.0, 13), false), -30.0, 1e-9);
    EXPECT_NEAR(MeanSquareDbm0(Tones(kCount, -10.0, {697.0}), false), -10.0, 1e-9);
    EXPECT_NEAR(MeanSquareDbm0(Tones(kCount, -10.0, {941.0, 1633.0}), false), -10.0, 1e-9);  // DTMF
    // The CSS pauses: 102 ms of every 350 ms is silent.
    const std::vector<double> css = CompositeSource(10 * 2800, -10.0, 1);
    EXPECT_EQ(std::count(css.begin(), css.end(), 0.0), 10 * 816);
    // Far and near CSS are independent.
    const std::vector<double> other = CompositeSource(10 * 2800, -10.0, 7);
    EXPECT_LT(std::abs(std::inner_product(css.begin(), css.end(), other.begin(), 0.0)) /
                  std::inner_product(css.begin(), css.end(), css.begin(), 0.0),
              0.05);
}

TEST(G168Signals, MuLawRoundTripIsTheNearestCode)
{
    for (const auto& [in, out] : {std::pair<double, std::int16_t>{40000.0, 32124},
                                  {-40000.0, -32124},
                                  {3.9, 0},
                                  {4.1, 8},
                                  {-4.1, -8},
                                  {1000.0, 988}})
        EXPECT_EQ(ULawRoundTrip(in), out) << in;
    for (const std::int16_t v : g711::kULaw)
        EXPECT_EQ(ULawRoundTrip(v), v);  // every code's value comes back unchanged
}

TEST(G168Models, EightModelsScaledToTheErl)
{
    ASSERT_EQ(Models().size(), 8u);
    EXPECT_TRUE(Models().front().name == "D.2" && Models().front().taps.size() == 64u &&
                Models().back().name == "D.9");
    const std::vector<double> css = CompositeSource(2 * kSampleRate, -10.0, 1);
    for (const EchoPathModel& m : Models()) {
        for (const double erl : {6.0, 20.0}) {
            const std::vector<double> h = ScaledTaps(m, css, erl);
            double in = 0.0, out = 0.0;
            for (std::size_t n = h.size(); n < css.size(); ++n) {
                double e = 0.0;
                for (std::size_t k = 0; k < h.size(); ++k)
                    e += h[k] * css[n - k];
                in += css[n] * css[n];
                out += e * e;
            }
            EXPECT_NEAR(10.0 * std::log10(in / out), erl, 1e-6) << m.name;
        }
    }
}

TEST(G168Tests, EchoInsideTheCancellersWindow)
{
    const struct {
        int tail, bulk, length, delay;
    } cases[] = {{128, 0, 64, 8}, {128, 0, 128, 1}, {128, 200, 124, 204}, {64, 10, 96, 11}};
    for (const auto& c : cases) {
        EXPECT_EQ(EchoDelay({c.tail, c.bulk, 6, 3}, c.length), c.delay);
    }
}

const TestCase& Named(const std::string& name)
{
    const auto tests = Tests();
    return *std::find_if(tests.begin(), tests.end(), [&](const TestCase& t) { return t.name == name; });
}

TEST(G168Tests, GoodSettingsPassWhereTheCancellerHoldsUp)
{
    // Cells that pass with the default settings; each fails when its rule's limit is 10 dB
    // stricter, so the margin is a measurement, not a constant.
    // The limit each judges by: the documented one, or (NaN) one measured on Sgen.
    const double residual = kRinDbm0 - kResidualBelowRinDb;
    const std::tuple<const char*, int, double> cases[] = {
        {"2C(a)", 0, std::nan("")}, {"3B(a)", 2, residual + 10.0}, {"5", 4, -65.0}, {"4", 6, residual}};
    for (const auto& [test, model, limit] : cases) {
        const CellResult cell = RunCell(Named(test), model, CancellerSetup{}, 6.0);
        EXPECT_TRUE(std::isnan(limit) || cell.worstDbm0 + cell.marginDb == limit) << test;
        EXPECT_TRUE(cell.passed && cell.marginDb > 0.0)
            << test << " " << cell.model << " margin " << cell.marginDb;
        EXPECT_LT(cell.marginDb, 40.0) << "a margin this large measures nothing";
        const auto judged = std::count_if(cell.limitDbm0.begin(), cell.limitDbm0.end(),
                                          [](double l) { return !std::isnan(l); });
        EXPECT_GT(judged, 10) << test;
    }
}

}  // namespace
