// A call's RTP streams from pcap bytes: every kind of damage a capture shows is counted, named
// in a note and leaves the surviving samples where their packets belong on the timeline.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

struct Counts {
    std::int64_t lost = 0;
    std::int64_t duplicates = 0;
    std::int64_t reordered = 0;
    std::int64_t late = 0;
};

struct PcapCase {
    const char* name;
    std::function<void(std::vector<RtpPacket>&)> edit;
    Link link = Link::kEthernet;
    bool ipv6 = false;
    std::size_t cut = 0;               // bytes cut off the file's end
    const char* refusal = nullptr;     // part of the refusal, or nullptr for a decoded call
    Counts tx{};                       // of the first Tx stream
    std::vector<std::string> notes{};  // codes, in order
    std::vector<int> silent{};         // Tx packets whose time is silence
};

void Swap(RtpPacket& a, RtpPacket& b)
{
    std::swap(a.sequence, b.sequence);
    std::swap(a.timestamp, b.timestamp);
    std::swap(a.payload, b.payload);
}

const PcapCase kCases[] = {
    {"clean", [](auto&) {}},
    {"one_percent_loss",
     [](auto& p) {
         for (int k : {250, 150, 50}) {
             p.erase(p.begin() + 2 * k);
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {3, 0, 0, 0},
     {"rtp-lost"},
     {50, 150, 250}},
    {"three_reordered",
     [](auto& p) {
         for (int k : {10, 20, 30}) {
             Swap(Tx(p, k), Tx(p, k + 1));
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {0, 0, 3, 0},
     {"rtp-reordered"}},
    {"two_duplicates",
     [](auto& p) {
         for (int k : {6, 5}) {
             RtpPacket copy = Tx(p, k);
             copy.timeUs += 1000;
             copy.payload.assign(copy.payload.size(), 0x00);  // the first copy is the one kept
             p.insert(p.begin() + 2 * k + 1, copy);
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {0, 2, 0, 0},
     {"rtp-duplicates"}},
    {"too_late_to_put_back",
     [](auto& p) {
         RtpPacket held = Tx(p, 40);
         held.timeUs = Tx(p, 100).timeUs + 1;
         p.insert(p.begin() + 2 * 100 + 1, held);
         p.erase(p.begin() + 2 * 40);
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {0, 0, 0, 1},
     {"rtp-late"},
     {40}},
    {"first_packet_too_late",
     [](auto& p) {
         RtpPacket held = Tx(p, 0);
         held.timeUs = Tx(p, 70).timeUs + 1;
         p.insert(p.begin() + 2 * 70 + 1, held);
         p.erase(p.begin());
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {0, 0, 0, 1},
     {"rtp-late"},
     {0}},
    {"sequence_and_timestamp_wrap",
     [](auto& p) {
         for (int k = 0; k < kPackets; ++k) {
             Tx(p, k).sequence = static_cast<std::uint16_t>(65500 + k);
             Tx(p, k).timestamp = 0xFFFFF000U + 160U * static_cast<std::uint32_t>(k);
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {},
     {"rtp-wrap"}},
    {"timestamp_jump",
     [](auto& p) {
         for (int k = 100; k < kPackets; ++k) {
             Tx(p, k).timestamp += 5 * 8000;
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {},
     {"rtp-timestamp-jump"}},
    {"marker_restart",
     [](auto& p) {
         Tx(p, 200).marker = true;
         for (int k = 200; k < kPackets; ++k) {
             Tx(p, k).timestamp += 123456;
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {},
     {"rtp-marker-restart"}},
    {"telephone_event_in_the_stream",
     [](auto& p) { Tx(p, 77).payloadType = 101; },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {},
     {"rtp-other-payload"},
     {77}},
    {"ssrc_change",
     [](auto& p) {
         for (int k = 150; k < kPackets; ++k) {
             Tx(p, k).ssrc = 0x3333;
             Tx(p, k).sequence = static_cast<std::uint16_t>(7 + k - 150);
             Tx(p, k).timestamp = 999U + 160U * static_cast<std::uint32_t>(k - 150);
         }
     },
     Link::kEthernet,
     false,
     0,
     nullptr,
     {},
     {"rtp-ssrc-change"}},
    {"not_g711",
     [](auto& p) {
         for (RtpPacket& packet : p) {
             packet.payloadType = 18;
         }
     },
     Link::kEthernet, false, 0, "stream 0x00001111 is G.729 (PT 18); Tarnwell needs G.711"},
    {"ipv6", [](auto&) {}, Link::kEthernet, true},
    {"vlan", [](auto&) {}, Link::kVlan},
    {"linux_cooked_v1", [](auto&) {}, Link::kCookedV1},
    {"linux_cooked_v2_ipv6", [](auto&) {}, Link::kCookedV2, true},
    {"raw_ip", [](auto&) {}, Link::kRawIp},
    {"truncated", [](auto&) {}, Link::kEthernet, false, 50, "call.pcap: packet 600: truncated"},
};

class PcapCallTest : public ::testing::TestWithParam<PcapCase> {};

TEST_P(PcapCallTest, CountsTheDamageAndKeepsTheSamplesInPlace)
{
    const PcapCase& c = GetParam();
    std::vector<RtpPacket> packets = testpcap::Call(Codes(true), Codes(false));
    c.edit(packets);
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{c.link, c.ipv6}.File(packets);
    bytes.resize(bytes.size() - c.cut);

    PcapContents contents;
    std::string refusal;
    std::vector<RtpStream> streams;
    RtpCall call;
    std::vector<std::int16_t> tx;
    std::vector<std::int16_t> rx;
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
    EXPECT_EQ(first.lost, c.tx.lost);
    EXPECT_EQ(first.duplicates, c.tx.duplicates);
    EXPECT_EQ(first.reordered, c.tx.reordered);
    EXPECT_EQ(first.late, c.tx.late);
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
};

class CallChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(CallChoiceTest, PicksTheNamedDirection)
{
    const ChoiceCase& c = GetParam();
    const std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(
        testpcap::Call(Codes(true), Codes(false)));
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
        EXPECT_EQ(refusal, c.refusal);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CallChoiceTest, ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PcapReaderTest, TwoCallsNeedAChoice)
{
    std::vector<RtpPacket> packets = testpcap::Call(Codes(true), Codes(false));
    std::vector<RtpPacket> second = testpcap::Call(Codes(true), Codes(false));
    for (RtpPacket& p : second) {
        p.ssrc += 0x10;
    }
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(packets);
    const std::vector<std::uint8_t> more = testpcap::CallWriter{Link::kEthernet, false, 3}.File(second);
    bytes.insert(bytes.end(), more.begin() + 24, more.end());
    PcapContents contents;
    std::string refusal;
    ASSERT_TRUE(ReadPcapBytes(bytes.data(), bytes.size(), "calls.pcap", contents, refusal));
    RtpCall call;
    EXPECT_FALSE(ChooseCall(FindRtpStreams(contents), {}, call, refusal));
    EXPECT_THAT(refusal, HasSubstr("calls in the file; choose one with --tx-ssrc or --gateway"));
}

}  // namespace

// Jitter is read at the stream's own clock: packets 20 ms apart arriving alternately on time
// and 2 ms late settle at 2 ms whatever the clock, known by payload type or measured.
TEST(RtpJitterTest, ReadAtTheStreamsClock)
{
    const struct {
        int payloadType;
        std::uint32_t step;  // timestamp units per 20 ms packet
        int clock;
    } cases[] = {{8, 160, 8000}, {6, 320, 16000}, {96, 320, 16000}, {97, 960, 48000}};
    for (const auto& c : cases) {
        std::vector<RtpPacket> packets;
        for (int k = 0; k < kPackets; ++k) {
            RtpPacket p;
            p.ssrc = kTxSsrc;
            p.payloadType = c.payloadType;
            p.sequence = static_cast<std::uint16_t>(k);
            p.timestamp = static_cast<std::uint32_t>(k) * c.step;
            p.timeUs = 20000 * k + (k % 2 == 1 ? 2000 : 0);
            p.payload.assign(160, 0xd5);
            packets.push_back(p);
        }
        const std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(packets);
        PcapContents contents;
        std::string refusal;
        ASSERT_TRUE(ReadPcapBytes(bytes.data(), bytes.size(), "call.pcap", contents, refusal)) << refusal;
        const std::vector<RtpStream> streams = FindRtpStreams(contents);
        ASSERT_EQ(streams.size(), 1U);
        EXPECT_EQ(streams[0].clockRate, c.clock) << "PT " << c.payloadType;
        EXPECT_NEAR(streams[0].jitterMs, 2.0, 0.01) << "PT " << c.payloadType;
    }
}
