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

// The bounds that the engine's SettingsInRange checks, here named by option.
const SettingRange kSettingRanges[4] = {
    {"--delay", "delay", &TestSettings::delay, 0, kMaxBulkDelay},
    {"--tail", "tail", &TestSettings::tail, 0, kMaxTail},
    {"--nlp-diff", "nlp_diff", &TestSettings::nlpDiff, 0, 100},
    {"--nlp-shift", "nlp_shift", &TestSettings::nlpShift, 0, 10},
};

std::string DeviceList()
{
    std::string text = "Device rows (--device):\n";
    for (int row = 0; row < kDeviceCount; ++row) {
        text += text::Format("  %d  %-24s delay %3d, tail %3d\n", row,
                             kDeviceNames[static_cast<std::size_t>(row)], DelayPreset(row), TailPreset(row));
    }
    return text;
}

RunOptions::RunOptions(CLI::App& app, CliOptions& options, Settings settings, bool findTxChannel)
    : options_(options),
      findTxChannel_(findTxChannel)
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
    txChannel_ = app.add_option(
                        "--tx-channel", s.txChannel,
                        std::string("of a stereo file serving as both captures: the channel carrying Tx; "
                                    "Rx is the other") +
                            (findTxChannel ? " (default: the channel whose signal leads)" : ""))
                     ->check(kDecimal)
                     ->check(CLI::IsMember({0, 1}));
    if (!findTxChannel) {
        txChannel_->capture_default_str();
    }
    app.add_option("--format", format_,
                   "how to read a capture without a WAV, AU or AIFF header (by-name: .al/.alaw "
                   "A-law, .ul/.ulaw u-law, anything else 16-bit little-endian PCM)")
        ->check(CLI::IsMember({"by-name", "pcm", "alaw", "ulaw"}))
        ->capture_default_str();
    app.add_flag("--no-resample", noResample_,
                 "refuse captures at other rates than 8000 samples/s or in other sample types than "
                 "16-bit PCM, A-law and u-law, instead of converting them");
    app.add_option("--tx-ssrc", txSsrc_,
                   "of a pcap file: the SSRC of the stream sent towards the line (0x1234abcd or decimal); "
                   "Rx is the stream coming back")
        ->check(CLI::Validator(
            [](std::string& word) { return SsrcWord(word) ? std::string() : "not an SSRC: " + word; },
            "SSRC"));
    app.add_option("--gateway", options.settings.gateway,
                   "of a pcap file: the gateway's address; Tx is the stream sent to it")
        ->check(CLI::ValidIPV4 | CLI::Validator(
                                     [](std::string& word) {
                                         return word.find(':') != std::string::npos
                                                    ? std::string()
                                                    : "not an IPv4 or IPv6 address: " + word;
                                     },
                                     "IPV6"));
    networkDelayOption_ =
        app.add_option(
               "--network-delay", networkDelay_,
               text::Format("one-way delay between the far talker and the gateway, ms, 0..%d: whether "
                            "the echo left will be heard there (default: say up to which delay it is not)",
                            kMaxNetworkDelayMs))
            ->check(kDecimal)
            ->check(CLI::Range(0, kMaxNetworkDelayMs));
    if (settings == Settings::kSingle) {
        app.add_flag("--fail-on-check", options.failOnCheck,
                     "exit with 1 when any measured verdict reads CHECK (an ERL gate on a measured ERL "
                     "included); a verdict the capture could not measure does not count");
        app.add_flag("--fail-on-unmeasured", options.failOnUnmeasured,
                     "exit with 1 when any verdict reads CHECK or could not be measured (no near-end "
                     "speech for the levels, no Tx block for the ERL, no echo)");
    }
}

void RunOptions::AddSettings(CLI::App& app)
{
    TestSettings& s = options_.settings;
    delay_ = app.add_option("--delay", s.delay, "bulk delay, samples, 0..8000 (default: the device's preset)")
                 ->check(kDecimal);
    tail_ = app.add_option("--tail", s.tail, "tail, samples, 0..1024 (default: the device's preset)")
                ->check(kDecimal);
    app.add_option("--nlp-diff", s.nlpDiff, "NLP threshold, dB, 0..100")
        ->check(kDecimal)
        ->capture_default_str();
    app.add_option("--nlp-shift", s.nlpShift, "NLP attenuation in 6 dB steps, 0..10")
        ->check(kDecimal)
        ->capture_default_str();
    for (const SettingRange& range : kSettingRanges) {
        app.get_option(range.option)->check(CLI::Range(range.min, range.max));
    }
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
    s.resample = noResample_ ? 0 : 1;
    if (findTxChannel_ && txChannel_->count() == 0) {
        s.txChannel = -1;
    }
    if (!txSsrc_.empty()) {
        s.txSsrc = SsrcWord(txSsrc_);
    }
    if (networkDelayOption_->count() > 0) {
        options_.networkDelayMs = networkDelay_;
    }
}

std::optional<std::uint32_t> SsrcWord(const std::string& word)
{
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const std::size_t first = hex ? 2 : 0;
    if (word.size() == first || word.size() - first > (hex ? 8U : 10U)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = first; i < word.size(); ++i) {
        const char c = word[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * (hex ? 16U : 10U) + static_cast<std::uint64_t>(digit);
    }
    if (value > 0xFFFFFFFFU) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
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

CaptureOptions AddCaptureOptions(CLI::App& app, TestSettings& s, std::string& stereo)
{
    CLI::Option* tx =
        app.add_option("--tx", s.txPath, "Tx capture: sent towards the line")->check(kNonEmptyPath);
    CLI::Option* rx = app.add_option("--rx", s.rxPath, "Rx capture: back from the line, with the echo")
                          ->check(kNonEmptyPath);
    app.add_option("--stereo", stereo, "one stereo file holding both captures (see --tx-channel)")
        ->check(kNonEmptyPath)
        ->excludes(tx)
        ->excludes(rx);
    return {tx, rx};
}

}  // namespace tarnwell
