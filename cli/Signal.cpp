#include "cli/Signal.h"

#include "cli/RunOptions.h"
#include "engine/TestSignal.h"

namespace tarnwell {

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
    if (!testsignal::Write(path, samples, testsignal::CodingFor(path, format), why)) {
        err << "tarnwell-cli: " << path << ": " << why << '\n';
        return kExitRunFailed;
    }
    return kExitOk;
}

}  // namespace tarnwell
