// The command-line parser on argument lists taken from the fuzzer's bytes (NUL separates
// arguments): it parses, refuses with a usage status, or prints help; it never throws.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args{"tarnwell-cli"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() < 40; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const ParsedCommandLine parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    if (parsed.options) {
        const TestSettings& s = parsed.options->settings;
        if (parsed.options->deviceType < 0 || parsed.options->deviceType >= kDeviceCount ||
            s.txPath.empty() || s.rxPath.empty()) {
            std::abort();  // a run must have its device row and both captures
        }
    } else if (parsed.exitStatus != kExitOk && parsed.exitStatus != kExitUsage) {
        std::abort();
    }
    return 0;
}
