// A call's RTP streams from pcap bytes: every kind of damage a capture shows is counted, named
// in a note and leaves the surviving samples where their packets belong on the timeline.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>

#include "engine/G711.h"
#include "engine/PcapReader.h"
#include "engine/RtpStreams.h"
#include "support/PcapWriter.h"

using namespace tarnwell;
using ::testing::HasSubstr;
using testpcap::Link;
using testpcap::RtpPacket;

namespace {

constexpr int kPackets = 300;  // each way: 6 s
constexpr std::uint32_t kTxSsrc = 0x1111;

std::uint8_t Code(int packet, bool tx) { return static_cast<std::uint8_t>(packet * 37 + (tx ? 3 : 101)); }

std::vector<std::uint8_t> Codes(bool tx)
{
    std::vector<std::uint8_t> codes;
    for (int k = 0; k < kPackets; ++k) {
        codes.insert(codes.end(), 160, Code(k, tx));
    }
    return codes;
}

// The clean call has Tx packet k at index 2k and Rx packet k at 2k + 1.
RtpPacket& Tx(std::vector<RtpPacket>& packets, int k) { return packets[static_cast<std::size_t>(2 * k)]; }

struct PcapCase {
    const char* name;
    std::array<std::int64_t, 4> tx{};  // lost, duplicates, reordered, late: first Tx stream
    std::vector<std::string> notes{};  // codes, in order
    std::vector<int> silent{};         // Tx packets whose time is silence
    std::function<void(std::vector<RtpPacket>&)> edit{};  // of the clean call
    const char* refusal = nullptr;  // part of the refusal, or nullptr for a decoded call
    Link link = Link::kEthernet;
    bool ipv6 = false;
    std::size_t cut = 0;    // bytes cut off the file's end
    double jitterMs = 0.0;  // checked when not 0
};

using Edit = std::function<void(std::vector<RtpPacket>&)>;

// Tx packet `held` arrives just after packet `after`.
Edit Late(int held, int after)
{
    return [=](std::vector<RtpPacket>& p) {
        RtpPacket copy = Tx(p, held);
        copy.timeUs = Tx(p, after).timeUs + 1;
        p.insert(p.begin() + 2 * after + 1, copy);
        p.erase(p.begin() + 2 * held);
    };
}

// Tx packets from `first` on numbered afresh (the clean call's Tx runs from 1000 and 100000).
Edit Renumber(int first, std::uint32_t ssrc, std::uint16_t sequence, std::uint32_t timestamp,
              bool marker = false)
{
    return [=](std::vector<RtpPacket>& p) {
        Tx(p, first).marker = marker;
        for (int k = first; k < kPackets; ++k) {
            Tx(p, k).ssrc = ssrc;
            Tx(p, k).sequence = static_cast<std::uint16_t>(sequence + k - first);
            Tx(p, k).timestamp = timestamp + 160U * static_cast<std::uint32_t>(k - first);
        }
    };
}

void LoseThree(std::vector<RtpPacket>& p)
{
    for (int k : {250, 150, 50}) {
        p.erase(p.begin() + 2 * k);
    }
}

void ReorderThree(std::vector<RtpPacket>& p)
{
    for (int k : {10, 20, 30}) {
        std::swap(Tx(p, k).sequence, Tx(p, k + 1).sequence);
        std::swap(Tx(p, k).timestamp, Tx(p, k + 1).timestamp);
        std::swap(Tx(p, k).payload, Tx(p, k + 1).payload);
    }
}

// Every other Tx packet 2 ms late: the jitter settles at 2 ms.
void Jitter(std::vector<RtpPacket>& p)
{
    for (int k = 1; k < kPackets; k += 2) {
        Tx(p, k).timeUs += 2000;
    }
}

void DuplicateTwo(std::vector<RtpPacket>& p)
{
    for (int k : {6, 5}) {
        RtpPacket copy = Tx(p, k);
        copy.timeUs += 1000;
        copy.payload.assign(copy.payload.size(), 0x00);  // the first copy is the one kept
        p.insert(p.begin() + 2 * k + 1, copy);
    }
}

// Tx packet `packet` given another payload type, or every packet when it is -1.
Edit PayloadType(int packet, int type)
{
    return [=](std::vector<RtpPacket>& p) {
        for (std::size_t i = 0; i < p.size(); ++i) {
            if (packet < 0 || i == static_cast<std::size_t>(2 * packet)) {
                p[i].payloadType = type;
            }
        }
    };
}

const PcapCase kCases[] = {
    {"clean"},
    {"one_percent_loss", {3, 0, 0, 0}, {"rtp-lost"}, {50, 150, 250}, LoseThree},
    {"three_reordered", {0, 0, 3, 0}, {"rtp-reordered"}, {}, ReorderThree},
    {"two_duplicates", {0, 2, 0, 0}, {"rtp-duplicates"}, {}, DuplicateTwo},
    {"two_ms_jitter", {}, {}, {}, Jitter, nullptr, Link::kEthernet, false, 0, 2.0},
    {"too_late_to_put_back", {0, 0, 0, 1}, {"rtp-late"}, {40}, Late(40, 100)},
    {"first_packet_too_late", {0, 0, 0, 1}, {"rtp-late"}, {0}, Late(0, 70)},
    {"sequence_and_timestamp_wrap", {}, {"rtp-wrap"}, {}, Renumber(0, kTxSsrc, 65500, 0xFFFFF000U)},
    {"timestamp_jump", {}, {"rtp-timestamp-jump"}, {}, Renumber(100, kTxSsrc, 1100, 116000 + 5 * 8000)},
    {"marker_restart", {}, {"rtp-marker-restart"}, {}, Renumber(200, kTxSsrc, 1200, 132000 + 123456, true)},
    {"telephone_event_in_the_stream", {}, {"rtp-other-payload"}, {77}, PayloadType(77, 101)},
    {"ssrc_change", {}, {"rtp-ssrc-change"}, {}, Renumber(150, 0x3333, 7, 999)},
    {"not_g711", {}, {}, {}, PayloadType(-1, 18), "stream 0x00001111 is G.729 (PT 18); Tarnwell needs G.711"},
    {"ipv6", {}, {}, {}, {}, nullptr, Link::kEthernet, true},
    {"vlan", {}, {}, {}, {}, nullptr, Link::kVlan},
    {"linux_cooked_v1", {}, {}, {}, {}, nullptr, Link::kCookedV1},
    {"linux_cooked_v2_ipv6", {}, {}, {}, {}, nullptr, Link::kCookedV2, true},
    {"raw_ip", {}, {}, {}, {}, nullptr, Link::kRawIp},
    {"truncated", {}, {}, {}, {}, "call.pcap: packet 600: truncated", Link::kEthernet, false, 50},
};

class PcapCallTest : public ::testing::TestWithParam<PcapCase> {};

TEST_P(PcapCallTest, CountsTheDamageAndKeepsTheSamplesInPlace)
{
    const PcapCase& c = GetParam();
    std::vector<RtpPacket> packets = testpcap::Call(Codes(true), Codes(false));
    if (c.edit) {
        c.edit(packets);
    }
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{c.link, c.ipv6}.File(packets);
    bytes.resize(bytes.size() - c.cut);

    PcapContents contents;
    std::string refusal;
    std::vector<RtpStream> streams;
    RtpCall call;
    std::vector<std::int16_t> tx, rx;
    std::vector<CaptureNote> notes;
    const bool read = ReadPcapBytes(bytes.data(), bytes.size(), "call.pcap", contents, refusal) &&
                      ChooseCall(streams = FindRtpStreams(contents), {kTxSsrc, ""}, call, refusal) &&
                      DecodeCall(contents, streams, call, 1 << 20, tx, rx, notes, refusal);
    if (c.refusal != nullptr) {
        EXPECT_FALSE(read);
        EXPECT_THAT(refusal, HasSubstr(c.refusal));
        return;
    }
    ASSERT_TRUE(read) << refusal;
    const RtpStream& first = streams[call.tx.front()];
    EXPECT_EQ(first.ssrc, kTxSsrc);
    EXPECT_EQ((std::array{first.lost, first.duplicates, first.reordered, first.late}), c.tx);
    EXPECT_TRUE(c.jitterMs == 0.0 || std::abs(first.jitterMs - c.jitterMs) < 0.01) << first.jitterMs;
    std::vector<std::string> codes;
    for (const CaptureNote& note : notes) {
        codes.push_back(note.code);
    }
    EXPECT_EQ(codes, c.notes);

    ASSERT_EQ(tx.size(), std::size_t{kPackets} * 160);
    ASSERT_EQ(rx.size(), std::size_t{kPackets} * 160);
    for (int k = 0; k < kPackets; ++k) {
        const bool silent = std::find(c.silent.begin(), c.silent.end(), k) != c.silent.end();
        const std::int16_t want = silent ? 0 : g711::kALaw[Code(k, true)];
        for (std::size_t at : {std::size_t{0}, std::size_t{159}}) {
            ASSERT_EQ(tx[static_cast<std::size_t>(k) * 160 + at], want) << "Tx packet " << k;
        }
        ASSERT_EQ(rx[static_cast<std::size_t>(k) * 160], g711::kALaw[Code(k, false)]) << "Rx packet " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PcapCallTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Which stream is Tx: the one named, the one sent to the gateway, or none when the file is
// ambiguous.
struct ChoiceCase {
    const char* name;
    CallChoice choice;
    std::optional<std::uint32_t> tx;  // nullopt: refused
    bool chosen = true;
    const char* refusal = "";
    bool twoCalls = false;
};

const ChoiceCase kChoices[] = {
    {"by_ssrc", {0x2222, ""}, 0x2222},
    {"by_gateway", {std::nullopt, "192.0.2.2"}, 0x1111},
    {"by_far_end_as_gateway", {std::nullopt, "192.0.2.1"}, 0x2222},
    {"neither_leaves_the_direction_open", {std::nullopt, ""}, 0x1111, false},
    {"unknown_ssrc", {0x4444, ""}, std::nullopt, true, "no stream 0x00004444 in the file"},
    {"unknown_gateway",
     {std::nullopt, "192.0.2.9"},
     std::nullopt,
     true,
     "no G.711 call to or from 192.0.2.9"},
    {"two_calls_need_a_choice",
     {},
     std::nullopt,
     true,
     "2 calls in the file; choose one with --tx-ssrc or --gateway:",
     true},
};

class CallChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(CallChoiceTest, PicksTheNamedDirection)
{
    const ChoiceCase& c = GetParam();
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(testpcap::Call(Codes(true), Codes(false)));
    if (c.twoCalls) {  // the same call again between other addresses, its header left off
        std::vector<RtpPacket> second = testpcap::Call(Codes(true), Codes(false));
        for (RtpPacket& p : second) {
            p.ssrc += 0x10;
        }
        const std::vector<std::uint8_t> more = testpcap::CallWriter{Link::kEthernet, false, 3}.File(second);
        bytes.insert(bytes.end(), more.begin() + 24, more.end());
    }
    PcapContents contents;
    std::string refusal;
    ASSERT_TRUE(ReadPcapBytes(bytes.data(), bytes.size(), "call.pcap", contents, refusal));
    const std::vector<RtpStream> streams = FindRtpStreams(contents);
    RtpCall call;
    const bool chose = ChooseCall(streams, c.choice, call, refusal);
    ASSERT_EQ(chose, c.tx.has_value()) << refusal;
    if (chose) {
        EXPECT_EQ(streams[call.tx.front()].ssrc, *c.tx);
        EXPECT_EQ(call.directionChosen, c.chosen);
    } else {
        EXPECT_THAT(refusal, ::testing::StartsWith(c.refusal));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CallChoiceTest, ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
