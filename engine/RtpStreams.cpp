#include "engine/RtpStreams.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include "engine/G711.h"
#include "engine/TextFormat.h"

namespace tarnwell {

namespace {

// A packet this many behind the newest one is too late to put back: one second of 20 ms packets.
constexpr std::int64_t kReorderWindow = 50;
// A timestamp jump is followed as long as it agrees with the capture clock within 200 ms;
// beyond that the packets after it are placed by their capture time.
constexpr std::int64_t kRealignSamples = 1600;
constexpr int kClockRate = 8000;  // G.711's RTP clock, and the samples' rate

struct RtpHeader {
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t ssrc = 0;
    int payloadType = 0;
    bool marker = false;
    std::size_t payloadOffset = 0;
    std::size_t payloadSize = 0;
};

// The RTP clocks of the static audio payload types (RFC 3551); 0 where none is fixed.
int StaticClockRate(int payloadType)
{
    switch (payloadType) {
    case 6:
        return 16000;  // DVI4 at 16 kHz
    case 10:
    case 11:
        return 44100;  // L16
    case 14:
        return 90000;  // MPEG audio
    case 16:
        return 11025;  // DVI4
    case 17:
        return 22050;  // DVI4
    default:
        return payloadType < 24 ? 8000 : 0;
    }
}

std::uint32_t Be32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool ParseRtp(const std::vector<std::uint8_t>& d, RtpHeader& h)
{
    std::size_t size = d.size();
    if (size < 12 || (d[0] >> 6) != 2) {
        return false;
    }
    h.payloadType = d[1] & 0x7F;
    if (h.payloadType >= 72 && h.payloadType <= 76) {
        return false;  // RTCP's packet types 200..204 seen through RTP's marker bit
    }
    h.marker = (d[1] & 0x80) != 0;
    h.sequence = static_cast<std::uint16_t>((d[2] << 8) | d[3]);
    h.timestamp = Be32(d.data() + 4);
    h.ssrc = Be32(d.data() + 8);
    std::size_t offset = 12 + 4 * static_cast<std::size_t>(d[0] & 0x0F);
    if ((d[0] & 0x10) != 0) {
        if (offset + 4 > size) {
            return false;
        }
        offset += 4 + 4 * static_cast<std::size_t>((d[offset + 2] << 8) | d[offset + 3]);
    }
    if ((d[0] & 0x20) != 0) {
        const std::size_t padding = d[size - 1];
        if (padding == 0 || padding > size) {
            return false;
        }
        size -= padding;
    }
    if (offset > size) {
        return false;
    }
    h.payloadOffset = offset;
    h.payloadSize = size - offset;
    return true;
}

struct Placement {
    std::int64_t position = 0;  // sample offset on the timeline
    std::size_t datagram = 0;
    std::size_t payloadOffset = 0;
    std::size_t payloadSize = 0;
};

// The sample offset of a capture time on the timeline that starts at t0, rounded.
std::int64_t CapturePosition(std::int64_t timeUs, std::int64_t t0)
{
    const std::int64_t elapsed = std::max<std::int64_t>(0, timeUs - t0);
    return (elapsed * (kClockRate / 1000) + 500) / 1000;
}

// A dynamic payload's clock: how far the timestamps move per second of capture time, between
// the first and the last packet, taken to the nearest usual rate (8000 when too short to tell).
int MeasuredClockRate(const PcapContents& contents, const RtpStream& s)
{
    if (s.datagrams.size() < 2) {
        return kClockRate;
    }
    RtpHeader first;
    RtpHeader last;
    const UdpDatagram& a = contents.datagrams[s.datagrams.front()];
    const UdpDatagram& b = contents.datagrams[s.datagrams.back()];
    if (!ParseRtp(a.payload, first) || !ParseRtp(b.payload, last) || b.timeUs <= a.timeUs) {
        return kClockRate;
    }
    const double rate = static_cast<double>(static_cast<std::uint32_t>(last.timestamp - first.timestamp)) *
                        1e6 / static_cast<double>(b.timeUs - a.timeUs);
    constexpr int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 90000};
    int nearest = kClockRate;
    for (const int r : kRates) {
        if (std::fabs(rate - r) < std::fabs(rate - nearest)) {
            nearest = r;
        }
    }
    return nearest;
}

// Puts the stream's packets in sequence order and on the timeline that starts at t0, no earlier
// than floor; counts into stream what was lost, repeated, reordered, wrapped or jumped.
// Returns the end of the last sample placed.
std::int64_t Place(const PcapContents& contents, RtpStream& s, std::int64_t t0, std::int64_t floor,
                   std::vector<Placement>& placed)
{
    s.lost = s.duplicates = s.reordered = s.late = 0;
    s.sequenceWraps = s.timestampWraps = s.timestampJumps = s.markerRestarts = 0;
    s.otherPayloads = 0;
    s.jitterMs = 0.0;
    const int staticClock = StaticClockRate(s.payloadType);
    s.clockRate = staticClock > 0 ? staticClock : MeasuredClockRate(contents, s);
    placed.clear();

    struct Kept {
        std::int64_t ext;
        std::size_t datagram;
        RtpHeader header;
    };
    std::vector<Kept> kept;
    std::set<std::int64_t> seen;
    std::int64_t newest = 0;
    std::int64_t oldest = 0;
    double jitter = 0.0;
    bool haveArrival = false;
    std::int64_t lastArrivalUs = 0;
    std::uint32_t lastArrivalTs = 0;
    for (const std::size_t index : s.datagrams) {
        RtpHeader h;
        ParseRtp(contents.datagrams[index].payload, h);
        std::int64_t ext = h.sequence;
        if (kept.empty() && seen.empty()) {
            newest = oldest = ext;
        } else {
            const auto step = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(h.sequence - static_cast<std::uint16_t>(newest)));
            ext = newest + step;
            if (step > 0) {
                if (h.sequence < static_cast<std::uint16_t>(newest)) {
                    ++s.sequenceWraps;
                }
                newest = ext;
            } else if (seen.count(ext) != 0) {
                ++s.duplicates;
                continue;
            } else if (newest - ext > kReorderWindow) {
                ++s.late;
                oldest = std::min(oldest, ext);  // within the span: not lost, but late
                seen.insert(ext);
                continue;
            } else {
                ++s.reordered;
            }
        }
        oldest = std::min(oldest, ext);
        seen.insert(ext);
        const std::int64_t timeUs = contents.datagrams[index].timeUs;
        if (haveArrival) {
            // Interarrival jitter: the change in transit time, in clock units, smoothed by 1/16.
            const double arrival = static_cast<double>(timeUs - lastArrivalUs) * s.clockRate / 1e6;
            const double sent = static_cast<double>(static_cast<std::int32_t>(h.timestamp - lastArrivalTs));
            jitter += (std::fabs(arrival - sent) - jitter) / 16.0;
        }
        haveArrival = true;
        lastArrivalUs = timeUs;
        lastArrivalTs = h.timestamp;
        kept.push_back({ext, index, h});
    }
    s.lost = (newest - oldest + 1) - static_cast<std::int64_t>(seen.size());
    s.jitterMs = jitter * 1000.0 / s.clockRate;
    std::stable_sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.ext < b.ext; });

    std::int64_t end = floor;
    bool first = true;
    std::int64_t anchorPosition = 0;
    std::int64_t anchorTs = 0;
    std::int64_t previousExt = 0;
    std::int64_t previousTs = 0;  // unwrapped
    std::uint32_t previousRawTs = 0;
    std::int64_t previousLength = 0;
    for (const Kept& k : kept) {
        if (k.header.payloadType != s.payloadType) {
            ++s.otherPayloads;
            continue;  // events and comfort noise keep their sequence numbers but give no samples
        }
        const std::int64_t timeUs = contents.datagrams[k.datagram].timeUs;
        std::int64_t ts = 0;
        if (first) {
            anchorPosition = std::max(CapturePosition(timeUs, t0), floor);
            first = false;
        } else {
            const auto step = static_cast<std::int32_t>(k.header.timestamp - previousRawTs);
            if (step > 0 && k.header.timestamp < previousRawTs) {
                ++s.timestampWraps;
            }
            ts = previousTs + step;
            const std::int64_t expected = previousTs + (k.ext - previousExt) * previousLength;
            if (ts != expected) {
                ++(k.header.marker ? s.markerRestarts : s.timestampJumps);
                const std::int64_t byClock = CapturePosition(timeUs, t0);
                if (std::llabs(anchorPosition + (ts - anchorTs) - byClock) > kRealignSamples) {
                    anchorPosition = std::max(byClock, end);
                    anchorTs = ts;
                }
            }
        }
        const std::int64_t position = anchorPosition + (ts - anchorTs);
        placed.push_back({position, k.datagram, k.header.payloadOffset, k.header.payloadSize});
        end = std::max(end, position + static_cast<std::int64_t>(k.header.payloadSize));
        previousExt = k.ext;
        previousTs = ts;
        previousRawTs = k.header.timestamp;
        previousLength = static_cast<std::int64_t>(k.header.payloadSize);
    }
    return end;
}

std::string Hex(std::uint32_t ssrc) { return text::Format("0x%08x", ssrc); }

std::string Endpoint(const std::string& address, std::uint16_t port)
{
    return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
           std::to_string(port);
}

struct Flow {
    const RtpStream* first;
    std::vector<std::size_t> streams;
};

bool SameFlow(const RtpStream& a, const RtpStream& b)
{
    return a.source == b.source && a.sourcePort == b.sourcePort && a.destination == b.destination &&
           a.destinationPort == b.destinationPort;
}

bool Reverse(const RtpStream& a, const RtpStream& b)
{
    return a.source == b.destination && a.sourcePort == b.destinationPort && a.destination == b.source &&
           a.destinationPort == b.sourcePort;
}

std::vector<Flow> Flows(const std::vector<RtpStream>& streams)
{
    std::vector<Flow> flows;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        auto found = std::find_if(flows.begin(), flows.end(),
                                  [&](const Flow& f) { return SameFlow(*f.first, streams[i]); });
        if (found == flows.end()) {
            flows.push_back({&streams[i], {i}});
        } else {
            found->streams.push_back(i);
        }
    }
    return flows;
}

std::string NotG711(const RtpStream& s)
{
    return "stream " + Hex(s.ssrc) + " is " + PayloadName(s.payloadType) + " (PT " +
           std::to_string(s.payloadType) + "); Tarnwell needs G.711";
}

// The address as inet_ntop spells it, so that "2001:DB8::1" finds "2001:db8::1".
std::string CanonicalAddress(const std::string& address)
{
    unsigned char bytes[16] = {};
    char text[INET6_ADDRSTRLEN] = {};
    for (int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, address.c_str(), bytes) == 1 &&
            inet_ntop(family, bytes, text, sizeof text) != nullptr) {
            return text;
        }
    }
    return address;
}

}  // namespace

std::string StreamName(const RtpStream& s)
{
    return "stream " + Hex(s.ssrc) + " " + Endpoint(s.source, s.sourcePort) + " -> " +
           Endpoint(s.destination, s.destinationPort);
}

std::string PayloadName(int pt)
{
    switch (pt) {
    case 0:
        return "PCMU";
    case 3:
        return "GSM";
    case 4:
        return "G.723";
    case 8:
        return "PCMA";
    case 9:
        return "G.722";
    case 13:
        return "comfort noise";
    case 15:
        return "G.728";
    case 18:
        return "G.729";
    default:
        return pt >= 96 ? "a dynamic payload" : "payload type " + std::to_string(pt);
    }
}

bool IsG711(int payloadType) { return payloadType == 0 || payloadType == 8; }

std::vector<RtpStream> FindRtpStreams(const PcapContents& contents)
{
    std::vector<RtpStream> streams;
    std::map<std::tuple<std::uint32_t, std::string, std::uint16_t, std::string, std::uint16_t>, std::size_t>
        index;
    for (std::size_t i = 0; i < contents.datagrams.size(); ++i) {
        const UdpDatagram& d = contents.datagrams[i];
        RtpHeader h;
        if (!ParseRtp(d.payload, h)) {
            continue;
        }
        const auto key = std::make_tuple(h.ssrc, d.source, d.sourcePort, d.destination, d.destinationPort);
        auto [at, added] = index.emplace(key, streams.size());
        if (added) {
            RtpStream s;
            s.ssrc = h.ssrc;
            s.source = d.source;
            s.destination = d.destination;
            s.sourcePort = d.sourcePort;
            s.destinationPort = d.destinationPort;
            s.payloadType = h.payloadType;
            s.firstUs = d.timeUs;
            streams.push_back(std::move(s));
        }
        RtpStream& s = streams[at->second];
        ++s.packets;
        s.lastUs = std::max(s.lastUs, d.timeUs);
        s.firstUs = std::min(s.firstUs, d.timeUs);
        s.datagrams.push_back(i);
    }
    std::vector<Placement> placed;
    for (RtpStream& s : streams) {
        Place(contents, s, s.firstUs, 0, placed);
    }
    return streams;
}

bool ChooseCall(const std::vector<RtpStream>& streams, const CallChoice& choice, RtpCall& call,
                std::string& refusal)
{
    call = {};
    const std::vector<Flow> flows = Flows(streams);
    const auto reverseOf = [&](const Flow& flow) -> const Flow* {
        for (const Flow& other : flows) {
            if (Reverse(*flow.first, *other.first)) {
                return &other;
            }
        }
        return nullptr;
    };
    const auto take = [&](const Flow& tx, const Flow& rx, bool chosen) {
        for (const Flow* f : {&tx, &rx}) {
            if (!IsG711(f->first->payloadType)) {
                refusal = NotG711(*f->first);
                return false;
            }
        }
        call.tx = tx.streams;
        call.rx = rx.streams;
        call.directionChosen = chosen;
        return true;
    };

    if (choice.txSsrc) {
        for (const Flow& flow : flows) {
            for (std::size_t i : flow.streams) {
                if (streams[i].ssrc != *choice.txSsrc) {
                    continue;
                }
                const Flow* back = reverseOf(flow);
                if (back == nullptr) {
                    refusal = StreamName(streams[i]) + " has no stream coming back from " +
                              Endpoint(streams[i].destination, streams[i].destinationPort);
                    return false;
                }
                return take(flow, *back, true);
            }
        }
        refusal = "no stream " + Hex(*choice.txSsrc) + " in the file";
        return false;
    }

    std::vector<std::pair<const Flow*, const Flow*>> pairs;  // (Tx, Rx) candidates
    const std::string gateway = CanonicalAddress(choice.gateway);
    for (const Flow& flow : flows) {
        const Flow* back = reverseOf(flow);
        if (back == nullptr || !IsG711(flow.first->payloadType) || !IsG711(back->first->payloadType)) {
            continue;
        }
        if (!gateway.empty() ? flow.first->destination == gateway : flow.first < back->first) {
            pairs.emplace_back(&flow, back);
        }
    }
    if (pairs.size() == 1) {
        return take(*pairs[0].first, *pairs[0].second, !gateway.empty());
    }
    if (pairs.empty()) {
        for (const RtpStream& s : streams) {
            if (!IsG711(s.payloadType)) {
                refusal = NotG711(s);
                return false;
            }
        }
        refusal = streams.empty()    ? "no RTP streams in the file"
                  : !gateway.empty() ? "no G.711 call to or from " + gateway
                                     : "no pair of G.711 streams going opposite ways";
        return false;
    }
    refusal = std::to_string(pairs.size()) + " calls in the file; choose one with --tx-ssrc or --gateway:";
    for (const auto& [tx, rx] : pairs) {
        refusal += " " + Hex(tx->first->ssrc) + "/" + Hex(rx->first->ssrc);
    }
    return false;
}

bool DecodeCall(const PcapContents& contents, const std::vector<RtpStream>& streams, const RtpCall& call,
                std::int64_t maxSamples, std::vector<std::int16_t>& tx, std::vector<std::int16_t>& rx,
                std::vector<CaptureNote>& notes, std::string& refusal)
{
    std::int64_t t0 = streams[call.tx.front()].firstUs;
    for (const auto* side : {&call.tx, &call.rx}) {
        for (std::size_t i : *side) {
            t0 = std::min(t0, streams[i].firstUs);
        }
    }
    const struct {
        const std::vector<std::size_t>* streams;
        std::vector<std::int16_t>* samples;
        const char* name;
    } sides[] = {{&call.tx, &tx, "Tx"}, {&call.rx, &rx, "Rx"}};
    for (const auto& side : sides) {
        std::vector<std::vector<Placement>> placements;
        std::int64_t end = 0;
        for (std::size_t i : *side.streams) {
            RtpStream s = streams[i];
            placements.emplace_back();
            end = Place(contents, s, t0, end, placements.back());
            const std::string who = std::string(side.name) + " " + StreamName(s);
            if (s.lost > 0) {
                notes.push_back({true, "rtp-lost",
                                 text::Format("%s lost %lld of %lld packets; their time is silence",
                                              who.c_str(), static_cast<long long>(s.lost),
                                              static_cast<long long>(s.lost + s.packets - s.duplicates))});
            }
            if (s.late > 0) {
                notes.push_back({true, "rtp-late",
                                 text::Format("%s: %lld packets came more than %lld packets late and were "
                                              "dropped; their time is silence",
                                              who.c_str(), static_cast<long long>(s.late),
                                              static_cast<long long>(kReorderWindow))});
            }
            if (s.reordered > 0) {
                notes.push_back({false, "rtp-reordered",
                                 text::Format("%s: %lld packets came out of order and were put back in place",
                                              who.c_str(), static_cast<long long>(s.reordered))});
            }
            if (s.duplicates > 0) {
                notes.push_back({false, "rtp-duplicates",
                                 text::Format("%s: %lld duplicate packets were dropped", who.c_str(),
                                              static_cast<long long>(s.duplicates))});
            }
            if (s.sequenceWraps > 0 || s.timestampWraps > 0) {
                notes.push_back({false, "rtp-wrap",
                                 text::Format("%s: the sequence number wrapped %d times and the timestamp "
                                              "%d times; the samples stay in order",
                                              who.c_str(), s.sequenceWraps, s.timestampWraps)});
            }
            if (s.timestampJumps > 0) {
                notes.push_back(
                    {true, "rtp-timestamp-jump",
                     text::Format("%s: the timestamp jumped %d times without a marker bit; a "
                                  "jump the capture clock disagrees with is placed by capture time",
                                  who.c_str(), s.timestampJumps)});
            }
            if (s.otherPayloads > 0) {
                notes.push_back({false, "rtp-other-payload",
                                 text::Format("%s: %lld packets carried another payload than %s (events, "
                                              "comfort noise); their time is silence",
                                              who.c_str(), static_cast<long long>(s.otherPayloads),
                                              PayloadName(s.payloadType).c_str())});
            }
            if (s.markerRestarts > 0) {
                notes.push_back({false, "rtp-marker-restart",
                                 text::Format("%s: %d restarts announced by the marker bit", who.c_str(),
                                              s.markerRestarts)});
            }
        }
        if (side.streams->size() > 1) {
            std::string ssrcs;
            for (std::size_t i : *side.streams) {
                ssrcs += (ssrcs.empty() ? "" : ", ") + Hex(streams[i].ssrc);
            }
            notes.push_back(
                {true, "rtp-ssrc-change",
                 text::Format("%s changed SSRC %d times (%s); each new stream starts at its "
                              "capture time",
                              side.name, static_cast<int>(side.streams->size() - 1), ssrcs.c_str())});
        }
        if (end > maxSamples) {
            refusal = text::Format("the %s direction spans %.1f s; Tarnwell reads at most %.1f s", side.name,
                                   static_cast<double>(end) / kClockRate,
                                   static_cast<double>(maxSamples) / kClockRate);
            return false;
        }
        side.samples->assign(static_cast<std::size_t>(end), 0);
        for (std::size_t k = 0; k < side.streams->size(); ++k) {
            const g711::Table& table = streams[(*side.streams)[k]].payloadType == 8 ? g711::kALaw
                                                                                    : g711::kULaw;
            for (const Placement& p : placements[k]) {
                const std::vector<std::uint8_t>& bytes = contents.datagrams[p.datagram].payload;
                for (std::size_t j = 0; j < p.payloadSize; ++j) {
                    const std::int64_t at = p.position + static_cast<std::int64_t>(j);
                    if (at >= 0 && at < end) {
                        (*side.samples)[static_cast<std::size_t>(at)] = table[bytes[p.payloadOffset + j]];
                    }
                }
            }
        }
    }
    return true;
}

}  // namespace tarnwell
