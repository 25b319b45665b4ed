#include "cli/Streams.h"

#include <fcntl.h>

#include "cli/JsonReport.h"
#include "cli/RunOptions.h"
#include "engine/FileHandle.h"
#include "engine/RtpStreams.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

std::string Endpoint(const std::string& address, std::uint16_t port)
{
    return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
           std::to_string(port);
}

std::string Table(const std::vector<RtpStream>& streams, const PcapContents& contents)
{
    std::string text = text::Format("%lld packets, %zu UDP datagrams, %zu RTP streams\n",
                                    static_cast<long long>(contents.packets), contents.datagrams.size(),
                                    streams.size());
    if (streams.empty()) {
        return text;
    }
    text += text::Format("%-10s  %-24s  %-24s  %-12s %8s %6s %6s %6s %6s %9s %9s\n", "SSRC", "source",
                         "destination", "payload", "packets", "lost", "dup", "reord", "late", "seconds",
                         "jitter ms");
    for (const RtpStream& s : streams) {
        const std::string payload = PayloadName(s.payloadType) + "/" + std::to_string(s.payloadType);
        text += text::Format("0x%08x  %-24s  %-24s  %-12s %8lld %6lld %6lld %6lld %6lld %9.3f %9.3f\n",
                             s.ssrc, Endpoint(s.source, s.sourcePort).c_str(),
                             Endpoint(s.destination, s.destinationPort).c_str(), payload.c_str(),
                             static_cast<long long>(s.packets), static_cast<long long>(s.lost),
                             static_cast<long long>(s.duplicates), static_cast<long long>(s.reordered),
                             static_cast<long long>(s.late), s.Seconds(), s.jitterMs);
        if (s.sequenceWraps + s.timestampWraps + s.timestampJumps + s.markerRestarts + s.otherPayloads > 0) {
            text += text::Format("            wraps: sequence %d, timestamp %d; timestamp jumps %d; "
                                 "marker restarts %d; other payloads %lld\n",
                                 s.sequenceWraps, s.timestampWraps, s.timestampJumps, s.markerRestarts,
                                 static_cast<long long>(s.otherPayloads));
        }
    }
    return text;
}

nlohmann::ordered_json Json(const std::vector<RtpStream>& streams, const PcapContents& contents)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const RtpStream& s : streams) {
        list.push_back({{"ssrc", text::Format("0x%08x", s.ssrc)},
                        {"source", s.source},
                        {"source_port", s.sourcePort},
                        {"destination", s.destination},
                        {"destination_port", s.destinationPort},
                        {"payload_type", s.payloadType},
                        {"payload", PayloadName(s.payloadType)},
                        {"packets", s.packets},
                        {"lost", s.lost},
                        {"duplicates", s.duplicates},
                        {"reordered", s.reordered},
                        {"late", s.late},
                        {"sequence_wraps", s.sequenceWraps},
                        {"timestamp_wraps", s.timestampWraps},
                        {"timestamp_jumps", s.timestampJumps},
                        {"marker_restarts", s.markerRestarts},
                        {"other_payloads", s.otherPayloads},
                        {"seconds", s.Seconds()},
                        {"jitter_ms", s.jitterMs},
                        {"clock_hz", s.clockRate}});
    }
    return {{"packets", contents.packets}, {"udp_datagrams", contents.datagrams.size()}, {"streams", list}};
}

}  // namespace

int StreamsMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                bool /*showProgress*/, const PictureWriter& /*pictures*/)
{
    CLI::App app{"Lists the RTP streams of a pcap or pcapng file: SSRC, addresses and ports, payload, "
                 "packets, lost, duplicated, reordered and late packets, duration and jitter. A run "
                 "takes a call's pair of G.711 streams with --pcap FILE and --tx-ssrc or --gateway.",
                 "tarnwell-cli streams"};
    std::string path;
    bool json = false;
    app.add_option("FILE", path, "pcap or pcapng file")->required()->check(kNonEmptyPath);
    app.add_flag("--json", json, "print one JSON object instead of the table");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    std::string why;
    const FileHandle file = FileHandle::OpenRegular(path, O_RDONLY, 0, &why);
    if (!file.IsOpen()) {
        err << "tarnwell-cli: " << path << ": " << why << '\n';
        return kExitRunFailed;
    }
    PcapContents contents;
    if (!ReadPcap(file.Descriptor(), path, contents, why)) {
        err << "tarnwell-cli: " << why << '\n';
        return kExitRunFailed;
    }
    const std::vector<RtpStream> streams = FindRtpStreams(contents);
    if (json) {
        out << DumpJson(Json(streams, contents)) << '\n';
    } else {
        out << Table(streams, contents);
    }
    out.flush();
    return out ? kExitOk : kExitRunFailed;
}

}  // namespace tarnwell
