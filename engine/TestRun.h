// The parts of one echo test run, each defined in the file named after its job: the capture
// files, the screening, the cancellation pass. EchoTester.cpp puts them together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/EchoTester.h"
#include "engine/FileHandle.h"
#include "engine/OutputFile.h"
#include "engine/SampleBuffer.h"

namespace tarnwell::testrun {

// Everything one run holds. Its destructor is the one place that lets go of it, so every way
// out of the run releases the buffers and then closes the Rx capture, the Tx capture and the
// output file, in that order.
struct RunResources {
    FileHandle tx;
    FileHandle rx;
    OutputFile output;
    SampleBuffer rxWork;
    SampleBuffer txWork;
    SampleBuffer outputBlock;
    std::string refusal;               // a capture's own refusal text, which the run's Outcome points at
    std::vector<std::string> details;  // each "file: reason" behind a failure's message
    std::vector<CaptureNote> notes;    // what reading the captures noticed, for the findings
    int txChannel = -1;                // of a stereo file: the channel read as Tx; -1: two files

    RunResources() = default;
    RunResources(const RunResources&) = delete;
    // Notes "path: why" behind the failure that follows.
    void Detail(const std::string& path, const std::string& why) { details.push_back(path + ": " + why); }
    RunResources& operator=(const RunResources&) = delete;
    ~RunResources()
    {
        outputBlock.Release();
        rxWork.Release();
        txWork.Release();
        rx.Close();
        tx.Close();
        output.Close();
    }
};

// How a run ends: its result, and the message shown under "Test failed" (none when it went
// well, or when the user stopped it).
struct Outcome {
    bool result = false;
    const char* message = nullptr;
    bool cancelled = false;
};

constexpr Outcome Failed(const char* message) { return {false, message}; }

bool SameFile(const FileHandle& a, const FileHandle& b);

// Opens the three files, then decodes the first count samples of each capture into the work
// buffers; count, N, is the shorter capture in decoded samples, screened for length before
// any buffer is allocated. One file named as both captures is a stereo pair: Tx in the
// settings' channel, Rx in the other; with a negative channel, Tx is the channel that leads.
// Without an output (withOutput false) the output file is neither opened nor touched.
Outcome ReadCaptures(const TestSettings& settings, RunResources& run, int& count, bool withOutput = true);

// ReadCaptures for a pcap file named as both captures: the call's two directions on one timeline.
Outcome ReadPcapCaptures(const TestSettings& settings, RunResources& run, int& count);

// True when rx, not tx, leads (count samples each): as the delay search sees it, rx peaks
// higher at a negative lag than at any positive one. How a capture pair nobody oriented is
// put the right way round.
bool RxLeads(const std::int16_t* tx, const std::int16_t* rx, int count);

// True when the file starts with a pcap or pcapng magic number.
bool IsPcapFile(const FileHandle& file);

// The share of samples at full scale and the mean, over count samples.
void CheckCapture(const std::int16_t* samples, int count, double& clipShare, double& mean);

// Active 10 ms blocks of the Tx capture. A block is examined only when it ends before the
// last sample, so a capture that is a whole number of blocks leaves its final block out.
int CountVoiceBlocks(const DspToolkit& dsp, const std::int16_t* tx, int count);

// The cancellation pass: configures the canceller, runs it over the whole capture frame by
// frame, writes the output file, moves the progress bar and fills the statistics. It takes
// over the open files and both working buffers (count samples each) once the ERL gate has
// been passed; whatever it allocates belongs in RunResources so that the run releases it.
Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings, TestResults& results,
                            TestUi& ui, RunResources& run, int count, AnalysisRecord* analysis);

// What a pass reads and where it writes: count samples of each capture, and the output file,
// or none when the pass is one of many over captures prepared once.
struct PassInput {
    const std::int16_t* rx = nullptr;
    const std::int16_t* tx = nullptr;
    int count = 0;
    OutputFile* output = nullptr;
};

// The same pass over the given captures; run holds only what the pass allocates.
Outcome RunCancellationPass(const EchoTester& engine, const TestSettings& settings, const PassInput& input,
                            TestResults& results, TestUi& ui, RunResources& run, AnalysisRecord* analysis);

}  // namespace tarnwell::testrun
