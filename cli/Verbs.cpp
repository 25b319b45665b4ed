#include "cli/Verbs.h"

#include <algorithm>

#include "cli/Batch.h"
#include "cli/Signal.h"
#include "cli/Streams.h"
#include "cli/G168Command.h"
#include "cli/SweepCommand.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

constexpr Verb kVerbs[] = {
    {"run", "one test on a Tx/Rx capture pair (the default when no verb is given)", RunMain},
    {"batch", "one test per port over a site's captures, worst port first", BatchMain},
    {"signal", "a composite test signal to play into a port (WAV, raw PCM, A-law or u-law)", SignalMain},
    {"streams", "the RTP streams of a pcap or pcapng file, to pick a call from", StreamsMain},
    {"sweep", "one pass per tail, bulk delay and NLP setting over one capture; a measured tail", SweepMain},
    {"g168", "G.168-style tests of the canceller over echo path models D.2-D.9 (not a certification)",
     G168Main},
};

}  // namespace

std::span<const Verb> Verbs() { return kVerbs; }

const Verb* FindVerb(std::string_view name)
{
    const auto found = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [name](const Verb& verb) { return name == verb.name; });
    return found != std::end(kVerbs) ? found : nullptr;
}

std::string VerbList()
{
    std::string text = "Verbs ('tarnwell-cli VERB --help' for each):\n";
    for (const Verb& verb : kVerbs) {
        text += text::Format("  %-8s %s\n", verb.name, verb.summary);
    }
    return text;
}

}  // namespace tarnwell
