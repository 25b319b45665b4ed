// The streams verb: the RTP streams of a pcap or pcapng file, one line each (or JSON), so that
// the user can pick a call with --tx-ssrc or --gateway.
#pragma once

#include "cli/Verbs.h"

namespace tarnwell {

int StreamsMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool showProgress,
                const PictureWriter& pictures);

}  // namespace tarnwell
