// RtpStreams: the RTP streams among a capture's UDP datagrams, with what each lost, repeated
// or delivered out of order; the choice of one call's pair of G.711 streams; and that pair
// decoded onto one timeline of 8000 samples/s. Nothing is dropped without being counted: what
// is missing becomes silence, and the counts come back as notes for the findings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "engine/PcapReader.h"

namespace tarnwell {

// One SSRC sent from one address and port to another.
struct RtpStream {
    std::uint32_t ssrc = 0;
    std::string source;
    std::string destination;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    int payloadType = 0;          // of its first packet
    std::int64_t packets = 0;     // as captured, duplicates included
    std::int64_t lost = 0;        // sequence numbers never seen
    std::int64_t duplicates = 0;  // seen again: dropped
    std::int64_t reordered = 0;   // arrived after a later one, put back in order
    std::int64_t late = 0;        // arrived too far behind to put back: dropped
    int sequenceWraps = 0;
    int timestampWraps = 0;
    int timestampJumps = 0;          // the timestamp moved other than by the packets' length
    int markerRestarts = 0;          // a jump announced by the marker bit
    std::int64_t otherPayloads = 0;  // packets of another payload type (events, comfort noise)
    std::int64_t firstUs = 0;        // capture times of its first and last packets
    std::int64_t lastUs = 0;
    // Its RTP clock, Hz: the static payload type's, or for a dynamic one the rate its timestamps
    // advance at against the capture clock, taken to the nearest of the usual audio rates.
    int clockRate = 8000;
    double jitterMs = 0.0;               // interarrival jitter, at that clock
    std::vector<std::size_t> datagrams;  // indexes into the capture's datagrams, arrival order

    double Seconds() const { return static_cast<double>(lastUs - firstUs) / 1e6; }
};

// "stream 0x1234abcd 192.0.2.1:4000 -> 192.0.2.2:5000"
std::string StreamName(const RtpStream& stream);

// "PCMA", "G.729", ..., or "a dynamic payload" for 96..127.
std::string PayloadName(int payloadType);

bool IsG711(int payloadType);

// The RTP streams in the order of their first packets; a datagram counts as RTP by its header
// (version 2, a payload type outside RTCP's, the header within the datagram).
std::vector<RtpStream> FindRtpStreams(const PcapContents& contents);

// How the user picks the call and its direction; both empty: the file must hold one call.
struct CallChoice {
    std::optional<std::uint32_t> txSsrc;  // the stream sent towards the line
    std::string gateway;                  // the gateway's address: Tx is sent to it
};

// One call: its two directions, each one or more streams (an SSRC change starts another).
struct RtpCall {
    std::vector<std::size_t> tx;  // indexes into the streams
    std::vector<std::size_t> rx;
    bool directionChosen = false;  // by --tx-ssrc or --gateway; otherwise still to be found
};

// The G.711 pair the choice points at; false with a refusal naming what was found instead.
bool ChooseCall(const std::vector<RtpStream>& streams, const CallChoice& choice, RtpCall& call,
                std::string& refusal);

// Both directions decoded onto one timeline that starts at the earlier direction's first
// packet. At most maxSamples per direction, else refused. notes gets one line per kind of
// damage, naming the stream.
bool DecodeCall(const PcapContents& contents, const std::vector<RtpStream>& streams, const RtpCall& call,
                std::int64_t maxSamples, std::vector<std::int16_t>& tx, std::vector<std::int16_t>& rx,
                std::vector<CaptureNote>& notes, std::string& refusal);

}  // namespace tarnwell
