// A call in a pcap file as the run's captures: the shipped samples as PCMA, one packet every
// 20 ms each way, give the report and output of the same samples in .al files, bit for bit,
// whichever way the call is chosen and whichever way round it was captured.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sndfile.h>

#include "CliCall.h"
#include "cli/Batch.h"
#include "engine/G711.h"
#include "support/PcapWriter.h"
#include "support/SyntheticCaptures.h"

using namespace tarnwell;
using namespace clicall;
using testcaptures::TempDir;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

// The shipped capture `name` as A-law codes.
std::vector<std::uint8_t> ALaw(const char* name)
{
    std::vector<std::uint8_t> codes;
    for (const std::int16_t s : testcaptures::ReadPcm(fs::path(TARNWELL_SAMPLES_DIR) / name)) {
        codes.push_back(g711::LinearToALaw(s));
    }
    return codes;
}

void Write(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A single run writing its output to `out`; the outcome and the output's bytes.
std::pair<Outcome, std::string> RunTo(Args args, const std::string& out)
{
    args.insert(args.end(), {"--out", out});
    Outcome outcome = Call("run", args);
    return {outcome, Slurp(out)};
}

struct Case {
    const char* name;
    bool reversed;  // the Tx stream captured as coming from the gateway's side, and second
    Args choice;
    const char* finding;  // the one finding the pcap adds, or nullptr for none
};

const Case kCases[] = {
    {"by_ssrc", false, {"--tx-ssrc", "0x1111"}, nullptr},
    {"by_ssrc_decimal", true, {"--tx-ssrc", "4369"}, nullptr},
    {"by_gateway", false, {"--gateway", "192.0.2.2"}, nullptr},
    {"direction_found", false, {}, "info call-direction: Tx taken as stream 0x00001111"},
    {"direction_found_reversed", true, {}, "info call-direction: Tx taken as stream 0x00001111"},
};

class PcapRunTest : public ::testing::TestWithParam<Case> {};

TEST_P(PcapRunTest, GivesTheReportOfTheSameSamplesInALawFiles)
{
    const Case& c = GetParam();
    const TempDir dir;
    const std::vector<std::uint8_t> tx = ALaw("tx.pcm"), rx = ALaw("rx.pcm");
    Write(dir.File("tx.al"), tx);
    Write(dir.File("rx.al"), rx);
    std::vector<testpcap::RtpPacket> packets = testpcap::Call(tx, rx);
    for (testpcap::RtpPacket& p : packets) {
        p.towardsGateway = p.towardsGateway != c.reversed;
    }
    if (c.reversed) {
        // The Rx stream's packet first at each instant, so that only the signals tell the way.
        for (std::size_t k = 0; k + 1 < packets.size(); k += 2) {
            std::swap(packets[k], packets[k + 1]);
        }
    }
    Write(dir.File("call.pcap"), testpcap::CallWriter{}.File(packets));

    const auto [files, filesOut] = RunTo({"--tx", dir.File("tx.al"), "--rx", dir.File("rx.al")},
                                         dir.File("files.pcm"));
    Args args = {"--pcap", dir.File("call.pcap")};
    args.insert(args.end(), c.choice.begin(), c.choice.end());
    const auto [call, callOut] = RunTo(args, dir.File("call.pcm"));

    ASSERT_EQ(files.status, 0) << files.out;
    EXPECT_EQ(call.status, files.status);
    ASSERT_GT(filesOut.size(), 100000U);
    EXPECT_TRUE(callOut == filesOut) << "the cancelled Rx differs";
    // The report's rows alike; the findings too, but for the one the pcap adds.
    const auto rows = [](const std::string& report) { return report.substr(0, report.find("Findings")); };
    EXPECT_EQ(rows(call.out), rows(files.out));
    EXPECT_EQ(c.finding == nullptr, call.out == files.out);
    EXPECT_THAT(call.out, HasSubstr(c.finding == nullptr ? "" : c.finding));
}

INSTANTIATE_TEST_SUITE_P(Cases, PcapRunTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A damaged call still runs, and says what it lost; a truncated file names the packet.
TEST(PcapRunTest, SaysWhatTheCallLostAndRefusesATruncatedFile)
{
    const TempDir dir;
    const std::vector<std::uint8_t> tx = ALaw("tx.pcm"), rx = ALaw("rx.pcm");
    std::vector<testpcap::RtpPacket> packets = testpcap::Call(tx, rx);
    packets.erase(packets.begin() + 200);
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(packets);
    Write(dir.File("lossy.pcap"), bytes);
    bytes.resize(bytes.size() - 7);
    Write(dir.File("cut.pcap"), bytes);
    const struct {
        Args args;
        int status;
        const char* said;
    } cases[] = {
        {{"--pcap", dir.File("lossy.pcap"), "--tx-ssrc", "0x1111"},
         0,
         "warning rtp-lost: Tx stream 0x00001111 192.0.2.1:4000 -> 192.0.2.2:5000 lost 1 of 480 packets"},
        {{"--pcap", dir.File("cut.pcap")}, 1, "cut.pcap: packet 959: truncated"},
        // Given as one side only, a call is refused, never read as raw samples.
        {{"--tx", dir.File("lossy.pcap"), "--rx", TARNWELL_SAMPLES_DIR "/rx.pcm"},
         1,
         "lossy.pcap: a packet capture holds both directions"},
    };
    for (const auto& c : cases) {
        const Outcome o = RunTo(c.args, dir.File("o.pcm")).first;
        EXPECT_EQ(o.status, c.status) << c.said;
        EXPECT_THAT(o.out + o.err, HasSubstr(c.said));
    }
}

// A batch takes a call in a folder as a port named after the file, and a manifest's pcap cell
// as both captures of its row.
struct BatchCase {
    const char* name;
    Args files;            // created empty in the folder
    const char* manifest;  // nullptr: the folder itself is the input
    const char* problem;   // the first port's problem, "" for none
};

const BatchCase kBatchCases[] = {
    {"folder_call", {"port7.pcap"}, nullptr, ""},
    {"folder_call_and_pair",
     {"port7.pcapng", "port7_tx.pcm", "port7_rx.pcm"},
     nullptr,
     "port port7 has both a pcap file and Tx or Rx captures"},
    {"manifest_call", {"port7.pcap"}, "port,pcap\nport7,port7.pcap\n", ""},
    {"manifest_call_and_tx",
     {"port7.pcap"},
     "port,tx,rx,pcap\nport7,a.pcm,,port7.pcap\n",
     "manifest row 2: give tx and rx, or stereo, or pcap: only one of them"},
};

class PcapBatchTest : public ::testing::TestWithParam<BatchCase> {};

TEST_P(PcapBatchTest, ACallIsAPort)
{
    const BatchCase& c = GetParam();
    const TempDir dir;
    for (const std::string& file : c.files) {
        std::ofstream(dir.File(file)).put('\0');
    }
    BatchDefaults defaults;
    std::vector<BatchPort> ports;
    if (c.manifest == nullptr) {
        ports = FindFolderPorts(dir.path(), defaults, dir.path() / "out");
    } else {
        std::ofstream(dir.File("ports.csv")) << c.manifest;
        std::string error;
        ports = ReadManifest(dir.File("ports.csv"), defaults, dir.path() / "out", error);
        ASSERT_EQ(error, "");
    }
    ASSERT_EQ(ports.size(), 1U);
    EXPECT_EQ(ports[0].name, "port7");
    EXPECT_EQ(ports[0].problem, c.problem);
    EXPECT_EQ(fs::path(ports[0].options.settings.txPath).extension().string().substr(0, 5), ".pcap");
    EXPECT_EQ(ports[0].options.settings.rxPath, ports[0].options.settings.txPath);
}

INSTANTIATE_TEST_SUITE_P(Cases, PcapBatchTest, ::testing::ValuesIn(kBatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The streams verb lists what it finds, and a file it cannot read ends in status 1 with the
// packet that stopped it.
TEST(StreamsVerbTest, ListsTheStreamsOrSaysWhyNot)
{
    const TempDir dir;
    std::vector<std::uint8_t> bytes = testpcap::CallWriter{}.File(
        testpcap::Call(std::vector<std::uint8_t>(1600, 0xD5), std::vector<std::uint8_t>(800, 0x55)));
    Write(dir.File("call.pcap"), bytes);
    const Outcome listed = Call("streams", {dir.File("call.pcap")});
    EXPECT_EQ(listed.status, 0);
    EXPECT_THAT(listed.out, HasSubstr("15 packets, 15 UDP datagrams, 2 RTP streams"));
    EXPECT_THAT(
        listed.out,
        HasSubstr("0x00002222  192.0.2.2:5000            192.0.2.1:4000            PCMA/8              5"));
    bytes.resize(bytes.size() - 3);
    Write(dir.File("cut.pcap"), bytes);
    const Outcome cut = Call("streams", {dir.File("cut.pcap")});
    EXPECT_EQ(cut.status, 1);
    EXPECT_THAT(cut.err, HasSubstr("cut.pcap: packet 15: truncated"));
}

// --no-resample keeps the refusal of a capture at another rate.
TEST(NoResampleTest, RefusesAnotherRate)
{
    const TempDir dir;
    SF_INFO info{0, 16000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(dir.File("rx.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const testcaptures::Samples samples = testcaptures::Noise(160000, 2000.0, 5);
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    testcaptures::WritePcm(dir.File("tx.pcm"), testcaptures::Noise(80000, 2000.0, 6));
    const Args args = {"--tx", dir.File("tx.pcm"), "--rx", dir.File("rx.wav")};
    const Outcome refused =
        RunTo({args[0], args[1], args[2], args[3], "--no-resample"}, dir.File("o.pcm")).first;
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("rx.wav is 16000 samples/s; Tarnwell needs 8000 samples/s"));
    EXPECT_THAT(RunTo(args, dir.File("o.pcm")).first.out,
                HasSubstr("info converted: rx.wav resampled from 16000 to 8000 samples/s"));
}

}  // namespace
