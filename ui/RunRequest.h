// RunRequest: what either front end asks of one run, the engine's settings and the device
// row the recommendations use, with the values the window shows right after start. The
// window's Run command and the command-line parser both fill one, so the defaults, the
// device names and the report's row labels are written once, here and in Report.h.
#pragma once

#include <array>
#include <optional>

#include "engine/TestSettings.h"
#include "ui/Report.h"

namespace tarnwell {

inline constexpr int kDefaultNlpDiff = 6;                    // dB
inline constexpr int kDefaultNlpShift = 3;                   // steps of 6 dB
inline constexpr const char* kDefaultOutPath = "./out.pcm";  // in the working directory

// One-way network delays the audibility estimate takes, ms: past 2 s no call is held.
inline constexpr int kMaxNetworkDelayMs = 2000;

struct RunRequest {
    TestSettings settings;
    int deviceType = 0;  // row of DevicePresetTable, 0..kDeviceCount - 1
    // The one-way delay between the far talker and the gateway, ms, 0..kMaxNetworkDelayMs:
    // whether the echo left is heard there; not given: up to which delay it is not.
    std::optional<int> networkDelayMs;
};

// The request the window would make right after start with device row deviceType selected:
// that row's presets, NLP 6 and 3, the high-pass filter on, the output in ./out.pcm.
inline RunRequest DefaultRunRequest(int deviceType = 0)
{
    RunRequest request;
    request.deviceType = deviceType;
    TestSettings& s = request.settings;
    s.outPath = kDefaultOutPath;
    s.delay = DelayPreset(deviceType);
    s.tail = TailPreset(deviceType);
    s.nlpEnable = 1;
    s.nlpDiff = kDefaultNlpDiff;
    s.nlpShift = kDefaultNlpShift;
    s.highPass = 1;
    return request;
}

// The report's rows as both front ends label them, in the window's reading order.
struct ReportRowLabels {
    const char* realDelay = "Real Delay";
    const char* erl = "ERL";
    const char* residual = "Residual level";
    const char* levels = "Rx / Tx level avg.";
    const char* minimalTail = "Minimal tail (samples)";
    const char* txGainDecrease = "Tx gain decrease (dB)";
};
inline constexpr ReportRowLabels kRowLabels{};

}  // namespace tarnwell
