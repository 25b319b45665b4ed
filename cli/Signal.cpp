#include "cli/Signal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>

#include "cli/RunOptions.h"
#include "engine/G711.h"
#include "engine/OutputFile.h"
#include "engine/TestSignal.h"

namespace tarnwell {

namespace {

enum class Coding { kPcm16, kALaw, kULaw };

// A .wav name is 16-bit PCM whatever --format says: OutputFile gives it that header.
Coding CodingOf(const std::string& path, const std::string& format)
{
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wav") {
        return Coding::kPcm16;
    }
    if (format != "by-name") {
        return format == "alaw" ? Coding::kALaw : format == "ulaw" ? Coding::kULaw : Coding::kPcm16;
    }
    if (extension == ".al" || extension == ".alaw") {
        return Coding::kALaw;
    }
    if (extension == ".ul" || extension == ".ulaw") {
        return Coding::kULaw;
    }
    return Coding::kPcm16;  // .wav gets its header from OutputFile
}

}  // namespace

int SignalMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool /*showProgress*/,
               const PictureWriter& /*pictures*/)
{
    CLI::App app{"Writes a composite test signal to play into a port: a voiced part, shaped "
                 "pseudo-noise and a pause, every other 350 ms inverted, at 8000 samples/s, ending "
                 "in 2 s of quiet for the near end. OUT ending in .wav is a WAV file; .al/.alaw "
                 "A-law; .ul/.ulaw u-law; any other name raw 16-bit little-endian PCM.",
                 "tarnwell-cli signal"};
    std::string path;
    int seconds = 30;
    double level = -15.0;
    std::string format = "by-name";
    app.add_option("OUT", path, "the file to write")->required()->check(kNonEmptyPath);
    app.add_option("--seconds", seconds, "length, s")->check(CLI::Range(1, 3600))->capture_default_str();
    app.add_option("--level", level,
                   "level of the active parts, dBm0 (-20..-10 keeps the ERL's blocks usable)")
        ->check(CLI::Range(-60.0, 0.0))
        ->capture_default_str();
    app.add_option("--format", format, "how to write a file without a .wav name (by-name: by its extension)")
        ->check(CLI::IsMember({"by-name", "pcm", "alaw", "ulaw"}))
        ->capture_default_str();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    const std::vector<std::int16_t> samples = testsignal::Make(seconds, level);
    std::string why;
    OutputFile file(FileHandle::OpenOutput(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, &why), path);
    if (!file.Handle().IsOpen()) {
        err << "tarnwell-cli: " << path << ": " << why << '\n';
        return kExitRunFailed;
    }
    const Coding coding = CodingOf(path, format);
    bool written = false;
    errno = 0;
    if (coding == Coding::kPcm16) {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(samples.size() * 2);
        for (const std::int16_t s : samples) {
            const auto u = static_cast<std::uint16_t>(s);
            bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        written = file.WriteAll(bytes.data(), bytes.size());
    } else {
        std::vector<std::uint8_t> codes(samples.size());
        std::transform(samples.begin(), samples.end(), codes.begin(),
                       coding == Coding::kALaw ? g711::LinearToALaw : g711::LinearToULaw);
        written = file.WriteAll(codes.data(), codes.size());
    }
    if (!written || !file.Finish()) {
        err << "tarnwell-cli: " << path << ": " << (errno != 0 ? std::strerror(errno) : "cannot be written")
            << '\n';
        file.Discard();
        return kExitRunFailed;
    }
    file.Close();
    return kExitOk;
}

}  // namespace tarnwell
