// The whole run on captures and settings taken from the fuzzer's bytes: Tx is the bytes
// tiled to 5 s or a little more, Rx its echo at a chosen delay and loss plus the bytes again as
// noise. The run never crashes, its flags are 0 or 1, and its output is whole or empty.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/EchoTester.h"
#include "fuzz/FuzzInput.h"
#include "support/SilentUi.h"

using namespace tarnwell;

namespace {

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// An anonymous in-memory file, closed on scope exit, named by its /proc path.
struct MemoryFile {
    explicit MemoryFile(const std::vector<std::int16_t>& samples) : fd(memfd_create("capture", MFD_CLOEXEC))
    {
        const auto* bytes = reinterpret_cast<const char*>(samples.data());
        std::size_t left = samples.size() * sizeof(std::int16_t);
        while (left > 0) {
            const ssize_t put = write(fd, bytes, left);
            Check(put > 0);
            bytes += put;
            left -= static_cast<std::size_t>(put);
        }
    }
    ~MemoryFile() { close(fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
    off_t Size() const
    {
        struct stat info {};
        fstat(fd, &info);
        return info.st_size;
    }
    int fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput in(data, size);
    TestSettings s;
    s.tail = in.Range(-2, 1026);
    s.delay = in.Range(-2, 8002);
    s.nlpEnable = in.Range(0, 1);
    s.nlpDiff = in.Range(-1, 101);
    s.nlpShift = in.Range(-1, 11);
    s.highPass = in.Range(0, 1);
    const int txCount = in.Range(39990, 44000);
    const int rxCount = in.Range(39990, 44000);
    const int delay = in.Range(0, 1900);
    const int shift = in.Range(0, 15);
    const std::uint8_t* rest = in.Rest();
    const std::size_t restSize = in.RestSize();

    std::vector<std::int16_t> tx(static_cast<std::size_t>(txCount));
    std::vector<std::int16_t> rx(static_cast<std::size_t>(rxCount));
    for (std::size_t i = 0; i < tx.size(); ++i) {
        tx[i] = restSize >= 2 ? static_cast<std::int16_t>(rest[(2 * i) % restSize] |
                                                          (rest[(2 * i + 1) % restSize] << 8))
                              : 0;
    }
    for (std::size_t i = 0; i < rx.size(); ++i) {
        const std::int32_t echo = i >= static_cast<std::size_t>(delay) && i - delay < tx.size()
                                      ? tx[i - delay] >> shift
                                      : 0;
        const std::int32_t noise = restSize > 0 ? static_cast<std::int8_t>(rest[(7 * i) % restSize]) : 0;
        rx[i] = static_cast<std::int16_t>(std::clamp(echo + noise, -32768, 32767));
    }
    const MemoryFile txFile(tx);
    const MemoryFile rxFile(rx);
    const MemoryFile outFile({});
    s.txPath = txFile.Path();
    s.rxPath = rxFile.Path();
    s.outPath = outFile.Path();

    SilentUi ui;
    TestResults r{};
    const bool ok = EchoTester().RunTest(s, r, ui);
    for (const std::int32_t flag : {r.delayOk, r.erlOk, r.levelsOk, r.residualOk}) {
        Check(flag == 0 || flag == 1);
    }
    const off_t whole = static_cast<off_t>((std::min(txCount, rxCount) + 79) / 80) * 160;
    Check(outFile.Size() == ((ok && r.erlOk == 1) ? whole : 0));
    return 0;
}
