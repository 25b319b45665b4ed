#include "cli/RunOptions.h"

#include <cstdio>

namespace tarnwell {

std::string DeviceList()
{
    std::string text = "Device rows (--device):\n";
    for (int row = 0; row < kDeviceCount; ++row) {
        char line[96];
        std::snprintf(line, sizeof line, "  %d  %-24s delay %3d, tail %3d\n", row,
                      kDeviceNames[static_cast<std::size_t>(row)], DelayPreset(row),
                      TailPreset(row));
        text += line;
    }
    return text;
}

RunOptions::RunOptions(CLI::App& app, CliOptions& options) : options_(options)
{
    TestSettings& s = options.settings;
    app.add_option("--device", options.deviceType, "device preset row")
        ->check(CLI::Range(0, kDeviceCount - 1))
        ->capture_default_str();
    delay_ = app.add_option("--delay", s.delay,
                            "bulk delay, samples, 0..8000 (default: the device's preset)");
    tail_ = app.add_option("--tail", s.tail, "tail, samples, 0..1024 (default: the device's preset)");
    app.add_option("--nlp-diff", s.nlpDiff, "NLP threshold, dB, 0..100")->capture_default_str();
    app.add_option("--nlp-shift", s.nlpShift, "NLP attenuation in 6 dB steps, 0..10")
        ->capture_default_str();
    app.add_option("--high-pass", highPass_, "high-pass both captures first")
        ->check(CLI::IsMember({"on", "off"}))
        ->capture_default_str();
    app.add_option("--tx-channel", s.txChannel,
                   "of a stereo file serving as both captures: the channel carrying Tx; Rx is the other")
        ->check(CLI::IsMember({0, 1}))
        ->capture_default_str();
    app.add_option("--format", format_,
                   "how to read a capture without a WAV, AU or AIFF header (by-name: .al/.alaw "
                   "A-law, .ul/.ulaw u-law, anything else 16-bit little-endian PCM)")
        ->check(CLI::IsMember({"by-name", "pcm", "alaw", "ulaw"}))
        ->capture_default_str();
}

void RunOptions::Apply()
{
    TestSettings& s = options_.settings;
    if (!DelayGiven()) {
        s.delay = DelayPreset(options_.deviceType);
    }
    if (!TailGiven()) {
        s.tail = TailPreset(options_.deviceType);
    }
    s.highPass = *HighPassWord(highPass_);
    s.headerless = format_ == "pcm"    ? HeaderlessFormat::kPcm16
                   : format_ == "alaw" ? HeaderlessFormat::kALaw
                   : format_ == "ulaw" ? HeaderlessFormat::kULaw
                                       : HeaderlessFormat::kByName;
}

std::optional<int> HighPassWord(const std::string& word)
{
    if (word == "on" || word == "1") {
        return 1;
    }
    if (word == "off" || word == "0") {
        return 0;
    }
    return std::nullopt;
}

}  // namespace tarnwell
