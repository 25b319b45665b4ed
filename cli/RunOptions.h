// The run options that a single run and a batch share (device, delay, tail, NLP, high-pass,
// Tx channel, headerless format, a call's Tx stream), bound to one CliOptions through CLI11.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CommandLine.h"

namespace tarnwell {

class RunOptions {
public:
    // What the settings options take: one value each, or (kLists) none of --delay, --tail,
    // --nlp-diff and --nlp-shift, which a command trying many values adds as lists itself.
    enum class Settings { kSingle, kLists };

    // Adds the options to app; they write into options, which must outlive this object.
    // findTxChannel: a stereo file without --tx-channel has Tx in the channel that leads
    // (otherwise in channel 0).
    RunOptions(CLI::App& app, CliOptions& options, Settings settings = Settings::kSingle,
               bool findTxChannel = false);

    // After a successful parse: the device's presets where no delay or tail was given, and
    // the choices given as words turned into settings.
    void Apply();

    bool DelayGiven() const { return delay_ != nullptr && delay_->count() > 0; }
    bool TailGiven() const { return tail_ != nullptr && tail_->count() > 0; }

private:
    void AddSettings(CLI::App& app);

    CliOptions& options_;
    CLI::Option* delay_ = nullptr;
    CLI::Option* tail_ = nullptr;
    std::string highPass_ = "on";
    std::string format_ = "by-name";
    std::string txSsrc_;
    bool noResample_ = false;
    bool findTxChannel_ = false;
    CLI::Option* txChannel_ = nullptr;
    int networkDelay_ = 0;
    CLI::Option* networkDelayOption_ = nullptr;
};

// A number setting's option, its manifest column and the values the engine accepts; a value
// outside them is refused where it is given (a usage error, or a failed manifest row).
struct SettingRange {
    const char* option;
    const char* column;
    std::int32_t TestSettings::*member;
    std::int32_t min;
    std::int32_t max;
};
extern const SettingRange kSettingRanges[4];

// An SSRC as the user writes it: 0x-prefixed hexadecimal (as the streams verb lists it) or
// decimal, 32 bits; nullopt for anything else.
std::optional<std::uint32_t> SsrcWord(const std::string& word);

// Refuses an empty path: "--rx ''" is a slip in a script, not a file to open.
extern const CLI::Validator kNonEmptyPath;

// --tx, --rx and --stereo, which excludes the other two; the options, to ask what was given.
struct CaptureOptions {
    CLI::Option* tx;
    CLI::Option* rx;
};
CaptureOptions AddCaptureOptions(CLI::App& app, TestSettings& settings, std::string& stereo);

// The device rows with their presets, for the help's footer.
std::string DeviceList();

// "on" and "off", as --high-pass takes them, and 1 and 0; nullopt for anything else.
std::optional<int> HighPassWord(const std::string& word);

}  // namespace tarnwell
