// The report of a test, shared by the window and the command line (no Qt here): the four
// report lines with their OK/CHECK verdicts, the device presets, the two recommendations
// (minimal tail, Tx gain decrease) and the Run sequence both front ends follow.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/AnalysisRecord.h"
#include "engine/TestSettings.h"
#include "engine/TestUi.h"

namespace tarnwell {

// Words appended to report lines, indexed by a verdict flag (0 or 1).
using VerdictWords = std::array<std::string, 2>;
inline const VerdictWords kVerdictWords{"CHECK", "OK"};

inline constexpr int kDeviceCount = 10;

// The ten bulk-delay presets followed by the ten tail presets, indexed by device row.
inline constexpr std::array<int, 2 * kDeviceCount> DevicePresetTable{
    100, 80, 80,  80, 100, 80, 80,  180, 80,  80,    // delay, samples
    64,  48, 128, 64, 64,  48, 128, 64,  128, 128};  // tail, samples

inline constexpr std::array<const char*, kDeviceCount> kDeviceNames{
    "Vestra A - FXO",         "Vestra A - FXS",  "Vestra A - ISDN", "Vestra B - FXO (rev 1)",
    "Vestra B - FXO (rev 2)", "Vestra B - FXS",  "Vestra B - ISDN", "Vestra C - FXO",
    "Vestra C - ISDN",        "Vestra D - E1/T1"};

inline constexpr int DelayPreset(int deviceType) { return DevicePresetTable[deviceType]; }
inline constexpr int TailPreset(int deviceType) { return DevicePresetTable[kDeviceCount + deviceType]; }

// Rows whose fixed delay cannot be edited: the delay box is disabled for them.
inline constexpr bool DelayPresetFixed(int deviceType)
{
    return deviceType == 0 || deviceType == 1 || deviceType == 3 || deviceType == 4 || deviceType == 6;
}

struct Report {
    std::string realDelay;   // "Real Delay" row
    std::string erl;         // "ERL" row
    std::string residual;    // "Residual level" row: cancellation / residual
    std::string levels;      // "Rx / Tx level avg." row: Rx / Tx
    int minimalTail = 0;     // samples
    int txGainDecrease = 0;  // dB, zero or a negative multiple of 3
};

std::string RealDelayLine(const TestResults& r, const VerdictWords& words = kVerdictWords);
std::string ErlLine(const TestResults& r, const VerdictWords& words = kVerdictWords);
std::string ResidualLine(const TestResults& r, const VerdictWords& words = kVerdictWords);
std::string LevelsLine(const TestResults& r, const VerdictWords& words = kVerdictWords);

// Part of the detected delay beyond the device's delay preset, plus 49 samples.
int MinimalTail(int deviceType, int delay);

// 0, or -3 per full 3 dB by which Tx exceeds Rx beyond the first 3 dB, once Tx is over
// -40 dBm and more than 6 dB above Rx.
int TxGainDecrease(double txLevel, double rxLevel);

// How many of the four verdicts read CHECK (the ERL gate's included).
inline int CheckCount(const TestResults& r)
{
    return (r.delayOk == 0) + (r.erlOk == 0) + (r.levelsOk == 0) + (r.residualOk == 0);
}

Report MakeReport(const TestResults& r, int deviceType, const VerdictWords& words = kVerdictWords);

// One Run as both front ends do it: "Please wait, processing...", the run, then on a true
// result the report and "Finished". Settings the engine refused silently end in
// "Test failed" with the settings message, so the wait text never stays on screen.
// results must be zeroed; returns the report only when the run returned true.
// With an analysis record, the run's evidence is kept there as well.
std::optional<Report> RunAndReport(const TestSettings& settings, int deviceType, TestUi& ui,
                                   TestResults& results, const VerdictWords& words = kVerdictWords,
                                   AnalysisRecord* analysis = nullptr);

}  // namespace tarnwell
