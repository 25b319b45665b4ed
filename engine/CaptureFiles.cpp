// The run's files: opening both captures and the output, and reading the captures whole.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>

#include "engine/CaptureReader.h"
#include "engine/TestMessages.h"
#include "engine/TestRun.h"
#include "engine/TestThresholds.h"

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
        for (const auto& [file, path, why] : {std::tuple{&run.tx, &settings.txPath, &txWhy},
                                              std::tuple{&run.rx, &settings.rxPath, &rxWhy}}) {
            if (!file->IsOpen()) {
                run.Detail(*path, *why);
            }
        }
        return run.tx.IsOpen() && run.rx.IsOpen();
    }
    // A pipe or a device may take the output; only a regular file is emptied and compared.
    run.output = OutputFile(FileHandle::OpenOutput(settings.outPath, O_WRONLY | O_CREAT, 0666, &outputWhy),
                            settings.outPath);
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
        if (::ftruncate(run.output.Handle().Descriptor(), 0) != 0) {
            run.Detail(settings.outPath, std::strerror(errno));
            return false;
        }
    }
    return run.tx.IsOpen() && run.rx.IsOpen();
}

}  // namespace

Outcome ReadCaptures(const TestSettings& settings, RunResources& run, int& count, bool withOutput)
{
    if (!OpenFiles(settings, run, withOutput)) {
        return Failed(testmessages::kCheckFiles);
    }
    const bool stereo = SameFile(run.tx, run.rx);
    const int txChannel = settings.txChannel != 0 ? 1 : 0;
    CaptureReader tx;
    CaptureReader rx;
    if (!tx.Open(run.tx, settings.txPath, settings.headerless,
                 stereo ? txChannel : CaptureReader::kWholeFile, run.refusal) ||
        !rx.Open(run.rx, settings.rxPath, settings.headerless,
                 stereo ? 1 - txChannel : CaptureReader::kWholeFile, run.refusal)) {
        return Failed(run.refusal.c_str());
    }
    // The longer capture's excess is ignored.
    const std::int64_t samples = std::min(tx.SampleCount(), rx.SampleCount());
    if (!testthresholds::IsLongEnough(samples)) {
        return Failed(testmessages::kCheckSize);
    }
    if (testthresholds::IsTooLong(samples)) {
        return Failed(testmessages::kTooLarge);
    }
    count = static_cast<int>(samples);

    // One buffer per capture: the high-pass filter works in place.
    run.rxWork = SampleBuffer::ForOverwrite(count);
    run.txWork = SampleBuffer::ForOverwrite(count);
    for (auto [reader, buffer, path] : {std::tuple{&rx, &run.rxWork, &settings.rxPath},
                                        std::tuple{&tx, &run.txWork, &settings.txPath}}) {
        if (!reader->Read(buffer->data(), count)) {
            run.Detail(*path, "ended before its " + std::to_string(count) + " samples");
            return Failed(testmessages::kCheckFiles);
        }
    }
    return {true, nullptr};
}

}  // namespace tarnwell::testrun
