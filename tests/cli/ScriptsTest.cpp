// What a script relies on, through the real binary: a lost report is a failure, numbers are
// decimal, --fail-on-check, and a run that fails or is interrupted leaves no partial output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/SyntheticCaptures.h"

using namespace tarnwell;

namespace {

struct Outcome {
    int status = -1;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The binary through the shell with `options` after the captures, stdout to `to`.
Outcome RunCli(const testcaptures::TempDir& dir, const std::string& options, const std::string& to = "/dev/null",
            const std::string& prefix = "")
{
    const std::string command = prefix + "'" + std::string(TARNWELL_CLI_PATH) + "' --tx '" +
                                dir.File("tx.pcm") + "' --rx '" + dir.File("rx.pcm") + "' --out '" +
                                dir.File("out.pcm") + "' " + options + " </dev/null >" + to + " 2>'" +
                                dir.File("err") + "'";
    const int wstatus = std::system(command.c_str());
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, Slurp(dir.File("err"))};
}

void WriteCaptures(const testcaptures::TempDir& dir, int count, int delay)
{
    const testcaptures::Samples tx = testcaptures::Bursts(count, 2848.0, 4000, 0.0, 7);
    testcaptures::WritePcm(dir.File("tx.pcm"), tx);
    testcaptures::WritePcm(dir.File("rx.pcm"), testcaptures::Echo(tx, delay, 12.0, 8.0, 11));
}

TEST(Scripts, ExitStatusesSayWhatHappened)
{
    // The shipped samples read OK on every row of the report with device row 0.
    const testcaptures::TempDir dir;
    for (const char* name : {"tx.pcm", "rx.pcm"}) {
        std::filesystem::copy_file(std::filesystem::path(TARNWELL_SAMPLES_DIR) / name, dir.File(name));
    }
    const struct {
        const char* options;
        const char* to;
        int status;
        const char* err;  // a part of stderr
    } cases[] = {
        {"--json", "/dev/full", 1, "cannot write the report: No space left on device"},
        {"", "/dev/full", 1, "cannot write the report"},
        {"--help", "/dev/full", 1, "cannot write the help"},
        {"--tail 0x10", "/dev/null", 2, "not a decimal integer: 0x10"},
        {"--delay 1e2", "/dev/null", 2, "not a decimal integer: 1e2"},
        {"--nlp-diff 6.0", "/dev/null", 2, "not a decimal integer"},
        {"--device ' 1'", "/dev/null", 2, "not a decimal integer"},
        {"--tail +64", "/dev/null", 0, ""},
        {"--fail-on-check", "/dev/null", 0, ""},                      // every verdict OK here
        {"--fail-on-check --device 1", "/dev/null", 1, ""},           // 107 is outside row 1's window
        {"--device 1", "/dev/null", 0, ""},                           // a CHECK alone is still a report
        {"--fail-on-check --nlp-diff 100", "/dev/null", 1, ""},       // the residual verdict
    };
    for (const auto& c : cases) {
        const Outcome o = RunCli(dir, c.options, c.to);
        EXPECT_EQ(o.status, c.status) << c.options << " > " << c.to << ": " << o.err;
        EXPECT_NE(o.err.find(c.err), std::string::npos) << c.options << ": " << o.err;
    }
}

TEST(Scripts, FileErrorsNameTheFileAndTheReasonAndOutputsGoWhereTheyAreSent)
{
    const testcaptures::TempDir dir;
    for (const char* name : {"tx.pcm", "rx.pcm"}) {
        std::filesystem::copy_file(std::filesystem::path(TARNWELL_SAMPLES_DIR) / name, dir.File(name));
    }
    std::filesystem::create_directory(dir.File("folder"));
    const std::string rx = dir.File("rx.pcm");
    const std::string out = dir.File("out.pcm");
    const struct {
        std::string rx;
        std::string out;
        std::string extra;
        int status;
        std::string err;  // the message and its detail lines, in order
    } cases[] = {
        {dir.File("none.pcm"), out, "", 1, "Check the files\n" + dir.File("none.pcm") + ": No such file or directory\n"},
        {dir.File("folder"), out, "", 1, "Check the files\n" + dir.File("folder") + ": is a directory\n"},
        {rx, rx, "", 1, "Check the files\n" + rx + ": is the Rx capture\n"},
        {rx, dir.File("folder"), "", 1, "Check the files\n" + dir.File("folder") + ": is a directory\n"},
        {rx, "/dev/full", "", 1, "Cannot write the output file\n/dev/full: No space left on device\n"},
        {rx, "/dev/null", "", 0, ""},
        {rx, "-", "--json", 2, "--out -: the samples and the JSON cannot both go to stdout\n"},
    };
    for (const auto& c : cases) {
        const std::string command = "'" + std::string(TARNWELL_CLI_PATH) + "' --tx '" + dir.File("tx.pcm") +
                                    "' --rx '" + c.rx + "' --out '" + c.out + "' " + c.extra +
                                    " </dev/null >/dev/null 2>'" + dir.File("err") + "'";
        const int wstatus = std::system(command.c_str());
        const std::string err = Slurp(dir.File("err"));
        EXPECT_EQ(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, c.status) << command << ": " << err;
        EXPECT_EQ(err.substr(0, c.err.size()), c.err) << command;
    }
    EXPECT_EQ(std::filesystem::file_size(rx), std::filesystem::file_size(dir.File("tx.pcm")))
        << "an output naming a capture emptied it";
    // The cancelled Rx piped on, the report with the messages.
    const std::string piped = "'" + std::string(TARNWELL_CLI_PATH) + "' --tx '" + dir.File("tx.pcm") + "' --rx '" +
                              rx + "' --out - </dev/null 2>/dev/null | cat >'" + dir.File("piped.pcm") + "'";
    EXPECT_EQ(std::system((piped + "; exit 0").c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(dir.File("piped.pcm")), std::filesystem::file_size(rx));
}

TEST(Scripts, AFailedWriteLeavesTheOutputEmpty)
{
    const testcaptures::TempDir dir;
    WriteCaptures(dir, 48000, 110);
    // 64 blocks of 512 bytes: the output stops partway, the rest of the run goes on.
    const Outcome o = RunCli(dir, "", "/dev/null", "ulimit -f 64; ");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Cannot write the output file"), std::string::npos) << o.err;
    EXPECT_EQ(std::filesystem::file_size(dir.File("out.pcm")), 0u);
}

TEST(Scripts, AnInterruptStopsAtTheNextFrameAndEmptiesTheOutput)
{
    const testcaptures::TempDir dir;
    WriteCaptures(dir, 10 * 60 * 8000, 110);  // ten minutes: seconds of work with the plain loop
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::filesystem::remove(dir.File("out.pcm"));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("TARNWELL_TAP_LOOP", "plain", 1);
            const std::string tx = dir.File("tx.pcm");
            const std::string rx = dir.File("rx.pcm");
            const std::string out = dir.File("out.pcm");
            const std::string err = dir.File("err");
            std::freopen(err.c_str(), "w", stderr);
            std::freopen("/dev/null", "w", stdout);
            execl(TARNWELL_CLI_PATH, "tarnwell-cli", "--tx", tx.c_str(), "--rx", rx.c_str(), "--out",
                  out.c_str(), "--tail", "1024", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the pass has written its first block, then interrupt it.
        const auto started = [&] {
            std::error_code missing;
            const auto size = std::filesystem::file_size(dir.File("out.pcm"), missing);
            return !missing && size > 0;
        };
        for (int i = 0; i < 6000 && !started(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(child, signal);
        int wstatus = 0;
        waitpid(child, &wstatus, 0);
        ASSERT_TRUE(WIFEXITED(wstatus)) << "signal " << signal << " killed the process";
        EXPECT_EQ(WEXITSTATUS(wstatus), 128 + signal);
        EXPECT_EQ(Slurp(dir.File("err")), "Interrupted\n");
        EXPECT_EQ(std::filesystem::file_size(dir.File("out.pcm")), 0u) << "signal " << signal;
    }
}

}  // namespace
