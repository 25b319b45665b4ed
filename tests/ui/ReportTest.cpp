// Report lines and recommendations on results whose wording and values are known.
#include "ui/Report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TestResults Results()
{
    TestResults r;
    r.delay = 92;
    r.delayOk = 1;
    r.erl = 12.5;
    r.erlOk = 1;
    r.cancellation = 25.25;
    r.residualLevel = -62.5;
    r.residualOk = 1;
    r.rxLevel = -30.0;
    r.txLevel = -20.0;
    r.levelsOk = 0;
    return r;
}

TEST(ReportLines, FormatEachRowWithItsVerdict)
{
    const TestResults r = Results();
    EXPECT_EQ(RealDelayLine(r), "92 smp, OK");
    EXPECT_EQ(ErlLine(r), "12.50 dB, OK");
    EXPECT_EQ(ResidualLine(r), "25.25 / -62.50 dBm, OK");
    EXPECT_EQ(LevelsLine(r), "-30.00 / -20.00 dBm, CHECK");
}

TEST(ReportLines, ZeroFlagsReadCheck)
{
    TestResults r = Results();
    r.delayOk = 0;
    r.erlOk = 0;
    r.residualOk = 0;
    EXPECT_EQ(RealDelayLine(r), "92 smp, CHECK");
    EXPECT_EQ(ErlLine(r), "12.50 dB, CHECK");
    EXPECT_EQ(ResidualLine(r), "25.25 / -62.50 dBm, CHECK");
}

TEST(ReportLines, MissingStatisticsReadNotAvailable)
{
    TestResults r = Results();
    r.residualLevel = 0.0;
    EXPECT_EQ(ResidualLine(r), "Not Available");
    r.txLevel = 0.0;
    EXPECT_EQ(LevelsLine(r), "Not Available");
    r = Results();
    r.rxLevel = 0.0;
    EXPECT_EQ(LevelsLine(r), "Not Available");
    // A residual average that is not zero is shown, even when it is minus infinity.
    r = Results();
    r.residualLevel = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(ResidualLine(r), "25.25 / -inf dBm, OK");
}

TEST(MinimalTail, CountsTheDelayBeyondTheDevicePreset)
{
    EXPECT_EQ(MinimalTail(0, 150), 99);  // preset 100
    EXPECT_EQ(MinimalTail(0, 100), 49);  // equal to the preset
    EXPECT_EQ(MinimalTail(0, 99), 50);   // just below
    EXPECT_EQ(MinimalTail(7, 150), 50);  // preset 180, below
    EXPECT_EQ(MinimalTail(7, 181), 50);
    EXPECT_EQ(MinimalTail(2, 1799), 1799 - 80 + 49);
}

TEST(TxGainDecrease, StepsOfThreeAboveSixDecibels)
{
    EXPECT_EQ(TxGainDecrease(-20.0, -30.0), -6);   // D = 10
    EXPECT_EQ(TxGainDecrease(-20.0, -26.5), -3);   // D = 6.5
    EXPECT_EQ(TxGainDecrease(-20.0, -26.0), 0);    // D = 6.0 exactly: not above
    EXPECT_EQ(TxGainDecrease(-20.0, -29.0), -6);   // D = 9
    EXPECT_EQ(TxGainDecrease(-20.0, -28.99), -3);  // D just below 9
    EXPECT_EQ(TxGainDecrease(-20.0, -32.0), -9);   // D = 12
    EXPECT_EQ(TxGainDecrease(-41.0, -80.0), 0);    // Tx too quiet
    EXPECT_EQ(TxGainDecrease(-40.0, -80.0), 0);    // -40 is not above -40
    EXPECT_EQ(TxGainDecrease(0.0, 0.0), 0);        // missing statistics
    EXPECT_EQ(TxGainDecrease(-20.0, std::nan("")), 0);
}

TEST(MakeReport, FillsAllSixValues)
{
    const Report report = MakeReport(Results(), 0);
    EXPECT_EQ(report.realDelay, "92 smp, OK");
    EXPECT_EQ(report.erl, "12.50 dB, OK");
    EXPECT_EQ(report.residual, "25.25 / -62.50 dBm, OK");
    EXPECT_EQ(report.levels, "-30.00 / -20.00 dBm, CHECK");
    EXPECT_EQ(report.minimalTail, 50);  // delay 92 below the preset 100
    EXPECT_EQ(report.txGainDecrease, -6);
}

TEST(DevicePresets, TenRowsOfDelayThenTail)
{
    EXPECT_EQ(DelayPreset(0), 100);
    EXPECT_EQ(TailPreset(0), 64);
    EXPECT_EQ(DelayPreset(7), 180);
    EXPECT_EQ(TailPreset(9), 128);
    int fixed = 0;
    for (int row = 0; row < kDeviceCount; ++row) {
        fixed += DelayPresetFixed(row) ? 1 : 0;
    }
    EXPECT_EQ(fixed, 5);
    EXPECT_FALSE(DelayPresetFixed(2));
    EXPECT_TRUE(DelayPresetFixed(6));
}

}  // namespace
