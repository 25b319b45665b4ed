// tarnwell-cli g168: the G.168-style tests of the canceller as this tool builds it, with the
// settings given, over the echo path models D.2 to D.9 at one or more ERLs. Prints a table of
// tests against models (pass or FAIL with the margin in dB) or --json; --plots writes each
// cell's Sout level against its limit as CSV. Exit status 0 when every cell passes, 1 when any
// fails, 2 for a usage error. Not a certification.
#pragma once

#include <ostream>

#include "cli/CommandLine.h"

namespace tarnwell {

// The whole command; argv[0] is "g168".
int G168Main(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
             const PictureWriter& pictures);

}  // namespace tarnwell
