// The command line's verbs called in-process, and files read back whole: what the tests of
// tests/cli share.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Verbs.h"

namespace clicall {

using Args = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::filesystem::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The verb `verb` ("run", "batch", ...) with `args` after it, its streams kept.
inline Outcome Call(const char* verb, const Args& args, const tarnwell::PictureWriter& pictures = {})
{
    std::vector<const char*> argv{verb};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out, err;
    const int status = tarnwell::FindVerb(verb)->main(static_cast<int>(argv.size()), argv.data(), out, err,
                                                      false, pictures);
    return {status, out.str(), err.str()};
}

}  // namespace clicall
