// The pcap reader and the RTP streams on the fuzzer's bytes as a whole pcap or pcapng file: a
// file is either refused with a reason or read; a call found in it decodes within its bound.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/PcapReader.h"
#include "engine/RtpStreams.h"

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PcapContents contents;
    std::string refusal;
    if (!ReadPcapBytes(data, size, "fuzz.pcap", contents, refusal)) {
        if (refusal.empty()) {
            std::abort();  // a refusal always says why
        }
        return 0;
    }
    const std::vector<RtpStream> streams = FindRtpStreams(contents);
    for (const RtpStream& s : streams) {
        if (s.lost < 0 || s.duplicates + s.late > s.packets || StreamName(s).empty()) {
            std::abort();
        }
    }
    // The call as the user leaves it open, and as chosen by its first stream.
    std::vector<CallChoice> choices = {CallChoice{}};
    if (!streams.empty()) {
        choices.push_back({streams.front().ssrc, ""});
    }
    constexpr std::int64_t kMaxSamples = 1 << 20;
    for (const CallChoice& choice : choices) {
        RtpCall call;
        if (!ChooseCall(streams, choice, call, refusal)) {
            if (refusal.empty()) {
                std::abort();
            }
            continue;
        }
        std::vector<std::int16_t> tx;
        std::vector<std::int16_t> rx;
        std::vector<CaptureNote> notes;
        if (DecodeCall(contents, streams, call, kMaxSamples, tx, rx, notes, refusal)) {
            if (static_cast<std::int64_t>(tx.size()) > kMaxSamples ||
                static_cast<std::int64_t>(rx.size()) > kMaxSamples) {
                std::abort();
            }
        } else if (refusal.empty()) {
            std::abort();
        }
    }
    return 0;
}
