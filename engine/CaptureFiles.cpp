// The run's files: opening both captures and the output, and reading the captures whole.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/CaptureReader.h"
#include "engine/TestMessages.h"
#include "engine/TestRun.h"
#include "engine/TestThresholds.h"
#include "engine/TextFormat.h"

namespace tarnwell::testrun {

static bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameFile(const FileHandle& a, const FileHandle& b)
{
    struct stat aInfo {};
    struct stat bInfo {};
    return a.Stat(aInfo) && b.Stat(bInfo) && SameFile(aInfo, bInfo);
}

namespace {

// The standard output as it is: a duplicate of descriptor 1, never a reopening of
// /dev/stdout, which would truncate what the shell's redirection holds (a header written
// before, a file appended to) and cannot open a socket. start gets where the run's bytes
// begin in a regular file: its end when appending, else the current offset.
FileHandle StandardOutput(off_t& start, std::string& why)
{
    FileHandle file(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    if (!file.IsOpen()) {
        why = std::strerror(errno);
        return file;
    }
    struct stat info {};
    if (file.Stat(info) && S_ISREG(info.st_mode)) {
        const int flags = ::fcntl(file.Descriptor(), F_GETFL);
        const off_t offset = ::lseek(file.Descriptor(), 0, SEEK_CUR);
        start = flags != -1 && (flags & O_APPEND) != 0 ? info.st_size : std::max<off_t>(offset, 0);
    }
    return file;
}

// Opens both captures and the output file; all three are tried before anything is judged, so
// the output is emptied even when a capture is missing. An output that is one of the captures,
// whatever the spelling of its path, is refused before it is truncated.
bool OpenFiles(const TestSettings& settings, RunResources& run, bool withOutput)
{
    std::string txWhy;
    std::string rxWhy;
    std::string outputWhy;
    run.tx = FileHandle::OpenRegular(settings.txPath, O_RDONLY, 0, &txWhy);
    run.rx = FileHandle::OpenRegular(settings.rxPath, O_RDONLY, 0, &rxWhy);
    if (!withOutput) {
        for (const auto& [file, path, why] :
             {std::tuple{&run.tx, &settings.txPath, &txWhy}, std::tuple{&run.rx, &settings.rxPath, &rxWhy}}) {
            if (!file->IsOpen()) {
                run.Detail(*path, *why);
            }
        }
        return run.tx.IsOpen() && run.rx.IsOpen();
    }
    // A pipe or a device may take the output; only a regular file is emptied and compared.
    const bool standardOutput = settings.outPath == kStandardOutputPath;
    off_t start = 0;
    FileHandle output = standardOutput
                            ? StandardOutput(start, outputWhy)
                            : FileHandle::OpenOutput(settings.outPath, O_WRONLY | O_CREAT, 0666, &outputWhy);
    run.output = OutputFile(std::move(output), settings.outPath, start);
    if (!run.tx.IsOpen()) {
        run.Detail(settings.txPath, txWhy);
    }
    if (!run.rx.IsOpen()) {
        run.Detail(settings.rxPath, rxWhy);
    }
    if (!run.output.Handle().IsOpen()) {
        run.Detail(settings.outPath, outputWhy);
        return false;
    }
    if (run.output.Handle().IsRegular()) {
        const struct {
            const FileHandle* file;
            const char* name;
        } captures[] = {{&run.tx, "is the Tx capture"}, {&run.rx, "is the Rx capture"}};
        for (const auto& capture : captures) {
            if (SameFile(*capture.file, run.output.Handle())) {
                run.output.Close();  // it is a capture: nothing may empty it
                run.Detail(settings.outPath, capture.name);
                return false;
            }
        }
        if (!standardOutput && ::ftruncate(run.output.Handle().Descriptor(), 0) != 0) {
            run.Detail(settings.outPath, std::strerror(errno));
            return false;
        }
    } else if (run.output.IsWav()) {
        // A WAV header's sizes are filled in by seeking back: a pipe cannot do that.
        run.output.Close();
        run.Detail(settings.outPath,
                   "a WAV output must be a regular file; a pipe or a device takes raw samples "
                   "(a name that does not end in .wav)");
        return false;
    }
    return run.tx.IsOpen() && run.rx.IsOpen();
}

// One detail line per capture: its length in seconds as read, for a length refused.
void LengthDetails(const TestSettings& settings, RunResources& run, const CaptureReader& tx,
                   const CaptureReader& rx)
{
    for (const auto& [path, reader] : {std::pair{&settings.txPath, &tx}, std::pair{&settings.rxPath, &rx}}) {
        run.Detail(*path, text::Format("%.3f s as read", static_cast<double>(reader->SampleCount()) /
                                                             testthresholds::kSampleRate));
    }
}

}  // namespace

Outcome ReadCaptures(const TestSettings& settings, RunResources& run, int& count, bool withOutput)
{
    if (!OpenFiles(settings, run, withOutput)) {
        return Failed(testmessages::kCheckFiles);
    }
    const bool stereo = SameFile(run.tx, run.rx);
    if (stereo && IsPcapFile(run.tx)) {
        return ReadPcapCaptures(settings, run, count);
    }
    // Read as raw samples, a packet capture's headers and both directions would pass for a port.
    for (const auto& [file, path] :
         {std::pair{&run.tx, &settings.txPath}, std::pair{&run.rx, &settings.rxPath}}) {
        if (IsPcapFile(*file)) {
            run.Detail(*path, "a packet capture holds both directions: give this one file as both Tx and Rx "
                              "(--pcap FILE)");
            return Failed(testmessages::kCheckFiles);
        }
    }
    const int txChannel = settings.txChannel > 0 ? 1 : 0;
    CaptureReader tx;
    CaptureReader rx;
    if (!tx.Open(run.tx, settings.txPath, settings.headerless, stereo ? txChannel : CaptureReader::kWholeFile,
                 run.refusal, settings.resample != 0) ||
        !rx.Open(run.rx, settings.rxPath, settings.headerless,
                 stereo ? 1 - txChannel : CaptureReader::kWholeFile, run.refusal, settings.resample != 0)) {
        return Failed(run.refusal.c_str());
    }
    // What is measured is the converted samples; a stereo file is converted once per channel.
    for (auto [reader, path] : {std::pair{&tx, &settings.txPath}, std::pair{&rx, &settings.rxPath}}) {
        if (!reader->Conversion().empty() && !(stereo && reader == &rx)) {
            run.notes.push_back(
                {false, "converted",
                 std::filesystem::path(*path).filename().string() + " " + reader->Conversion()});
        }
    }
    for (auto [reader, path] : {std::pair{&tx, &settings.txPath}, std::pair{&rx, &settings.rxPath}}) {
        if (reader->LooksLike() != HeaderlessFormat::kPcm16) {
            const bool aLaw = reader->LooksLike() == HeaderlessFormat::kALaw;
            run.notes.push_back({true, "looks-like-g711",
                                 *path + " looks like " + (aLaw ? "A-law" : "\u00b5-law") +
                                     ", not 16-bit PCM as its name says; give --format " +
                                     (aLaw ? "alaw" : "ulaw") + " if it is"});
        }
    }
    // The longer capture's excess is ignored.
    const std::int64_t samples = std::min(tx.SampleCount(), rx.SampleCount());
    if (!testthresholds::IsLongEnough(samples)) {
        LengthDetails(settings, run, tx, rx);
        return Failed(testmessages::kCheckSize);
    }
    if (testthresholds::IsTooLong(samples)) {
        LengthDetails(settings, run, tx, rx);
        return Failed(testmessages::kTooLarge);
    }
    count = static_cast<int>(samples);
    run.txChannel = stereo ? txChannel : -1;

    // One buffer per capture: the high-pass filter works in place.
    run.rxWork = SampleBuffer::ForOverwrite(count);
    run.txWork = SampleBuffer::ForOverwrite(count);
    for (auto [reader, buffer, path] :
         {std::tuple{&rx, &run.rxWork, &settings.rxPath}, std::tuple{&tx, &run.txWork, &settings.txPath}}) {
        if (!reader->Read(buffer->data(), count)) {
            run.Detail(*path, "ended before its " + std::to_string(count) + " samples");
            return Failed(testmessages::kCheckFiles);
        }
    }
    if (stereo && settings.txChannel < 0) {
        int taken = txChannel;
        if (RxLeads(run.txWork.data(), run.rxWork.data(), count)) {
            std::swap(run.txWork, run.rxWork);
            taken = 1 - txChannel;
        }
        run.txChannel = taken;
        run.notes.push_back(
            {false, "tx-channel",
             text::Format("Tx taken as channel %d of %s, whose signal leads; --tx-channel "
                          "says otherwise",
                          taken, std::filesystem::path(settings.txPath).filename().string().c_str())});
    }
    return {true, nullptr};
}

}  // namespace tarnwell::testrun
