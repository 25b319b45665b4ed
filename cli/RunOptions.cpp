#include "cli/RunOptions.h"

#include "engine/TextFormat.h"

namespace tarnwell {

// Numbers are decimal: "0x10" or "1e3" is a typing slip, not 16 or 1000.
const CLI::Validator kDecimal(
    [](std::string& text) {
        std::size_t digits = text.size();
        const std::size_t first = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
        for (std::size_t i = first; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') {
                digits = 0;
            }
        }
        return digits > first ? std::string() : "not a decimal integer: " + text;
    },
    "DECIMAL");

const CLI::Validator kNonEmptyPath(
    [](std::string& text) { return text.empty() ? std::string("the path is empty") : std::string(); },
    "PATH");

std::string DeviceList()
{
    std::string text = "Device rows (--device):\n";
    for (int row = 0; row < kDeviceCount; ++row) {
        text += text::Format("  %d  %-24s delay %3d, tail %3d\n", row,
                             kDeviceNames[static_cast<std::size_t>(row)], DelayPreset(row),
                             TailPreset(row));
    }
    return text;
}

RunOptions::RunOptions(CLI::App& app, CliOptions& options, Settings settings) : options_(options)
{
    TestSettings& s = options.settings;
    app.add_option("--device", options.deviceType, "device preset row")
        ->check(kDecimal)
        ->check(CLI::Range(0, kDeviceCount - 1))
        ->capture_default_str();
    if (settings == Settings::kSingle) {
        AddSettings(app);
    }
    app.add_option("--high-pass", highPass_, "high-pass both captures first")
        ->check(CLI::IsMember({"on", "off"}))
        ->capture_default_str();
    app.add_option("--tx-channel", s.txChannel,
                   "of a stereo file serving as both captures: the channel carrying Tx; Rx is the other")
        ->check(kDecimal)
        ->check(CLI::IsMember({0, 1}))
        ->capture_default_str();
    app.add_option("--format", format_,
                   "how to read a capture without a WAV, AU or AIFF header (by-name: .al/.alaw "
                   "A-law, .ul/.ulaw u-law, anything else 16-bit little-endian PCM)")
        ->check(CLI::IsMember({"by-name", "pcm", "alaw", "ulaw"}))
        ->capture_default_str();
    if (settings == Settings::kSingle) {
        app.add_flag("--fail-on-check", options.failOnCheck,
                     "exit with 1 when any verdict is CHECK or the ERL gate stopped the cancellation");
    }
}

void RunOptions::AddSettings(CLI::App& app)
{
    TestSettings& s = options_.settings;
    delay_ = app.add_option("--delay", s.delay,
                            "bulk delay, samples, 0..8000 (default: the device's preset)")
                 ->check(kDecimal);
    tail_ = app.add_option("--tail", s.tail, "tail, samples, 0..1024 (default: the device's preset)")
                ->check(kDecimal);
    app.add_option("--nlp-diff", s.nlpDiff, "NLP threshold, dB, 0..100")->check(kDecimal)->capture_default_str();
    app.add_option("--nlp-shift", s.nlpShift, "NLP attenuation in 6 dB steps, 0..10")
        ->check(kDecimal)
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
