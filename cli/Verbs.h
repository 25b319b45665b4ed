// The command line's verbs in one table, which both the dispatcher and --help read, so that a
// new verb is one row. A command line that names no verb is a single run.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "cli/CommandLine.h"

namespace tarnwell {

// argv[0] is the verb's own name.
using VerbMain = int (*)(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                         bool showProgress, const PictureWriter& pictures);

struct Verb {
    const char* name;
    const char* summary;  // one line for --help
    VerbMain main;
};

std::span<const Verb> Verbs();

// The verb named so, or nullptr.
const Verb* FindVerb(std::string_view name);

// The verbs as --help lists them.
std::string VerbList();

}  // namespace tarnwell
