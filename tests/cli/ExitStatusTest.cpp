// The real tarnwell-cli binary as a subprocess: exit statuses, and what goes to stdout and
// stderr when stderr is not a terminal.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/CommandLine.h"
#include "engine/TestMessages.h"
#include "tests/cli/CliTestSupport.h"

extern char** environ;

using ::testing::HasSubstr;

namespace {

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs the binary with stdin from /dev/null and stdout, stderr into files; status is the
// exit status, or -1 when the program did not exit normally.
clitest::Outcome RunBinary(const std::vector<std::string>& args)
{
    testcaptures::TempDir dir;
    const std::string outPath = dir.File("stdout");
    const std::string errPath = dir.File("stderr");
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(actions.get(), 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> all{TARNWELL_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    clitest::Outcome outcome;
    pid_t pid = 0;
    if (posix_spawn(&pid, TARNWELL_CLI_PATH, actions.get(), nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "cannot start " << TARNWELL_CLI_PATH;
        return outcome;
    }
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
        outcome.status = WEXITSTATUS(wstatus);
    }
    outcome.out = Slurp(outPath);
    outcome.err = Slurp(errPath);
    return outcome;
}

}  // namespace

TEST(CliBinary, UsageErrorsExitWithTwoAndPrintNothingOnStdout)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--tx", "t", "--rx", "r", "--device", "10"}, {"--tx", "t", "--rx", "r", "--high-pass", "1"}}) {
        const clitest::Outcome outcome = RunBinary(args);
        EXPECT_EQ(outcome.status, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_EQ(outcome.out, "");
        EXPECT_THAT(outcome.err, HasSubstr("--help"));
    }
    const clitest::Outcome help = RunBinary({"--help"});
    EXPECT_EQ(help.status, kExitOk);
    EXPECT_THAT(help.out, HasSubstr("--tx"));
}

TEST(CliBinary, FalseResultExitsWithOneAndStillPrintsJson)
{
    clitest::Captures captures(110, 12.0);
    auto args = captures.Args();
    args.insert(args.end(), {"--nlp-shift", "11", "--json"});
    const clitest::Outcome outcome = RunBinary(args);
    EXPECT_EQ(outcome.status, kExitRunFailed);
    EXPECT_EQ(outcome.err, std::string(TestMessages::kCheckSettings) + "\n");
    const auto parsed = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(parsed["ok"], false);
    EXPECT_EQ(parsed["status"], "Test failed");
    EXPECT_EQ(parsed["settings"]["nlpShift"], 11);
    EXPECT_TRUE(parsed["report"].is_null());
}

TEST(CliBinary, TrueResultsExitWithZeroAndNoProgressReachesAFile)
{
    clitest::Captures complete(110, 12.0);
    const clitest::Outcome finished = RunBinary(complete.Args());
    EXPECT_EQ(finished.status, kExitOk) << finished.out << finished.err;
    EXPECT_EQ(finished.err, "");  // stderr is a file here: no progress line
    EXPECT_THAT(finished.out, HasSubstr("Real Delay              110 smp, OK\n"));

    clitest::Captures gate(110, 3.0);  // stops at the ERL gate, which still returns true
    const clitest::Outcome gated = RunBinary(gate.Args());
    EXPECT_EQ(gated.status, kExitOk) << gated.out << gated.err;
    EXPECT_EQ(gated.err, std::string(TestMessages::kErlGate) + "\n");
}
