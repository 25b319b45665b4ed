#include "ui/Report.h"

#include <cmath>
#include <cstdio>

#include "engine/EchoTester.h"
#include "engine/TestMessages.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

using text::Format;

const char* Word(const VerdictWords& words, int flag) { return words[flag != 0 ? 1 : 0].c_str(); }

}  // namespace

std::string RealDelayLine(const TestResults& r, const VerdictWords& words)
{
    return Format("%d smp, %s", r.delay, Word(words, r.delayOk));
}

std::string ErlLine(const TestResults& r, const VerdictWords& words)
{
    return Format("%.2f dB, %s", r.erl, Word(words, r.erlOk));
}

std::string ResidualLine(const TestResults& r, const VerdictWords& words)
{
    if (r.residualLevel == 0.0) {
        return "Not Available";
    }
    return Format("%.2f / %.2f dBm, %s", r.cancellation, r.residualLevel, Word(words, r.residualOk));
}

std::string LevelsLine(const TestResults& r, const VerdictWords& words)
{
    if (r.txLevel == 0.0 || r.rxLevel == 0.0) {
        return "Not Available";
    }
    return Format("%.2f / %.2f dBm, %s", r.rxLevel, r.txLevel, Word(words, r.levelsOk));
}

int MinimalTail(int deviceType, int delay)
{
    int b = DelayPreset(deviceType);
    if (b > delay) {
        b = delay - 1;
    }
    return delay - b + 49;
}

int TxGainDecrease(double txLevel, double rxLevel)
{
    if (!(txLevel > -40.0 && txLevel - rxLevel > 6.0)) {
        return 0;
    }
    // Levels are finite dBm values in practice; the clamp keeps a pathological one from
    // making the conversion to int undefined.
    const double difference = rxLevel - txLevel;
    const int v = difference < -1.0e6 ? -1000000 : static_cast<int>(difference);
    return ((v + 3) / 3) * 3;
}

Report MakeReport(const TestResults& r, int deviceType, const VerdictWords& words)
{
    Report report;
    report.realDelay = RealDelayLine(r, words);
    report.erl = ErlLine(r, words);
    report.residual = ResidualLine(r, words);
    report.levels = LevelsLine(r, words);
    report.minimalTail = MinimalTail(deviceType, r.delay);
    report.txGainDecrease = TxGainDecrease(r.txLevel, r.rxLevel);
    return report;
}

std::optional<Report> RunAndReport(const TestSettings& settings, int deviceType, TestUi& ui,
                                   TestResults& results, const VerdictWords& words, AnalysisRecord* analysis)
{
    ui.SetStatus(testmessages::kPleaseWait);
    const EchoTester tester;
    if (!tester.RunTest(settings, results, ui, analysis)) {
        if (!SettingsInRange(settings)) {
            ui.SetStatus(testmessages::kTestFailed);
            ui.ShowMessage(testmessages::kCheckSettings);
        }
        return std::nullopt;
    }
    Report report = MakeReport(results, deviceType, words);
    ui.SetStatus(testmessages::kFinished);
    return report;
}

}  // namespace tarnwell
