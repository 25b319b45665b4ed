// Will the far talker hear the echo: the E-model's talker echo term against published points
// of the talker echo tolerance, and the finding on the figures a run gives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "evidence/EchoAudibility.h"

using namespace tarnwell;

namespace {

// Points read off the "acceptable" curve of G.131's talker echo tolerance (Figure 1); below,
// G.107's default TELR of 65 dB, which must stay acceptable past G.114's 400 ms.
TEST(TalkerEchoTolerance, DelayLimitAndNeededTelrMatchTheCurve)
{
    // TELR (dB), one-way delay (ms) and how closely the curve is read.
    for (const auto& [telr, delayMs, toleranceMs] :
         {std::tuple{38.0, 25.0, 5.0}, {55.0, 150.0, 20.0}, {60.0, 300.0, 40.0}}) {
        const std::optional<double> limit = emodel::DelayLimitMs(telr);
        ASSERT_TRUE(limit.has_value());
        EXPECT_NEAR(*limit, delayMs, toleranceMs);
        EXPECT_NEAR(emodel::TelrNeeded(delayMs), telr, 1.5);
    }
}

TEST(TalkerEchoTolerance, DefaultTelrHoldsPastG114AndNoEchoControlDoesNot)
{
    const std::optional<double> defaults = emodel::DelayLimitMs(65.0);
    EXPECT_TRUE(!defaults || *defaults > 400.0);
    // A hybrid's 6 dB ERL and nothing else (TELR 16): heard almost at once.
    const std::optional<double> bare = emodel::DelayLimitMs(16.0);
    ASSERT_TRUE(bare.has_value());
    EXPECT_LT(*bare, 5.0);
    // More delay never needs less echo loss.
    EXPECT_LT(emodel::TelrNeeded(50.0), emodel::TelrNeeded(100.0));
    EXPECT_FALSE(emodel::DelayLimitMs(70.0).has_value());
}

struct Row {
    bool allBlocks;  // the all-blocks ERL was measured (else only the ERL line)
    double erl, cancellation;
    std::optional<int> networkDelayMs;
    bool audible;         // a warning, "audible-echo"; else the info "echo-audibility"
    const char* pattern;  // regular expression the text must contain
};

TEST(EchoAudibilityFinding, AudibleAndInaudibleEcho)
{
    const Row rows[] = {
        // TELR 50 dB: acceptable to about 83 ms one-way (less half the 13 ms echo path).
        {true, 12.0, 28.0, 300, true,
         "hear the echo at a one-way network delay of 300 ms \\(an estimate: levels in dBm0, not "
         "loudness-weighted; .*TELR 50.0 dB \\(SLR 8 \\+ RLR 2 \\+ ERL 12.0 \\+ cancellation 28.0 dB\\) is "
         "acceptable only up to (7[0-9]|8[0-9]) ms, and 300 ms needs (9|10)\\.[0-9] dB more echo loss"},
        {true, 12.0, 28.0, 30, false,
         "acceptable at a one-way network delay of 30 ms .* holds up to (7[0-9]|8[0-9]) ms"},
        {true, 20.0, 45.0, 2000, false, "holds at any delay"},
        {true, 12.0, 28.0, std::nullopt, false,
         "stays acceptable up to a one-way network delay of (7[0-9]|8[0-9]) ms; 150 ms would need "
         "[4-7]\\.[0-9] dB more"},
        {false, 6.0, 0.0, std::nullopt, false,
         "ERL 6.0 \\+ cancellation 0.0 dB\\) is not acceptable even without network delay; 150 ms would "
         "need"},
        // TELR 55 dB: 145 ms one-way, 138 ms of network delay beside the echo path's 6.6 ms.
        {true, 10.0, 35.0, 138, false, "holds up to 138 ms"},
        {true, 10.0, 35.0, 139, true, "acceptable only up to 138 ms, and 139 ms needs 0\\.[0-9] dB more"},
    };
    for (const Row& row : rows) {
        TestResults r;
        r.erl = row.allBlocks ? 0.0 : row.erl;  // the all-blocks figure is the one taken
        r.cancellation = row.cancellation;
        r.delay = 106;
        AnalysisRecord a;
        a.erl.measured = true;
        a.erl.qualifyingBlocks = 3;
        a.allBlocksErl.measured = row.allBlocks;
        a.allBlocksErl.erl = row.erl;
        a.allBlocksErl.delay = 106;
        const std::optional<Finding> f = EchoAudibilityFinding(r, a, row.networkDelayMs);
        ASSERT_TRUE(f.has_value()) << row.pattern;
        EXPECT_EQ(f->code, row.audible ? "audible-echo" : "echo-audibility") << row.pattern;
        EXPECT_EQ(f->severity, row.audible ? Severity::Warning : Severity::Info) << row.pattern;
        EXPECT_THAT(f->text, ::testing::ContainsRegex(row.pattern));
    }
}

TEST(EchoAudibilityFinding, NothingWithoutAMeasuredEchoLoss)
{
    TestResults r;
    r.erl = 12.0;
    r.cancellation = 30.0;
    AnalysisRecord a;  // neither the ERL estimate nor the all-blocks figure measured
    EXPECT_FALSE(EchoAudibilityFinding(r, a, 100).has_value());
    a.erl.measured = true;  // reached, but no Tx block qualified: the ERL line is no figure
    EXPECT_FALSE(EchoAudibilityFinding(r, a, std::nullopt).has_value());
}

}  // namespace
