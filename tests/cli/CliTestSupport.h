// Helpers for the command-line tests: run the command in-process with captured streams,
// and generated capture pairs whose delay and ERL are known.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "tests/support/TestCaptures.h"

namespace clitest {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline Outcome RunInProcess(std::vector<std::string> args)
{
    args.insert(args.begin(), "tarnwell-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.status = CommandLineMain(static_cast<int>(argv.size()), argv.data(), out, err, false);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

// A 6-second Tx of half-second noise bursts at about -15 dBm0 (so the 100 ms ERL blocks fall
// between -20 and -10 dBm0) and an Rx carrying its echo delayed by delay samples with lossDb
// of loss and a little noise.
struct Captures {
    testcaptures::TempDir dir;
    std::string tx = dir.File("tx.pcm");
    std::string rx = dir.File("rx.pcm");
    std::string out = dir.File("out.pcm");

    Captures(int delay, double lossDb, int count = 48000)
    {
        const testcaptures::Samples txSamples = testcaptures::Bursts(count, 2848.0, 4000, 0.0, 7);
        testcaptures::WritePcm(tx, txSamples);
        testcaptures::WritePcm(rx, testcaptures::Echo(txSamples, delay, lossDb, 8.0, 11));
    }

    std::vector<std::string> Args() const { return {"--tx", tx, "--rx", rx, "--out", out}; }
};

}  // namespace clitest
