// tarnwell: the window. Without a display it says where to go instead of failing in the toolkit.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TarnwellVersion.h"
#include "app/MainApp.h"

namespace {

constexpr char kHelp[] =
    "Usage: tarnwell [TX [RX]] [--help | --version]\n"
    "Opens the Tarnwell window: choose the Tx and Rx captures of a telephony gateway port and\n"
    "the device, press Run, and read the echo delay, the echo return loss, the residual and\n"
    "speech levels with OK/CHECK verdicts, and the recommended tail and Tx gain. The cancelled\n"
    "Rx is written to out.pcm. tarnwell-cli gives the same report without a window.\n"
    "TX and RX fill the window's Tx and Rx boxes; one FILE (a stereo or pcap file) fills both.\n"
    "F1 in the window tells how to capture a port and what each report line means.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n";

bool HasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    return set(platform) || set(x11) || set(wayland);
}

// Prints text on stdout; false (with the reason on stderr) when it could not be written.
bool Print(const char* text)
{
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0) {
        return true;
    }
    std::fprintf(stderr, "tarnwell: cannot write to stdout: %s\n", std::strerror(errno));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so that scripts and manual-page tools need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return Print(kHelp) ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            const std::string line = std::string("tarnwell ") + tarnwell::kVersion + "\n";
            return Print(line.c_str()) ? 0 : 1;
        }
    }
    if (!HasDisplay()) {
        std::fprintf(stderr, "tarnwell: no display to open the window on; "
                             "tarnwell-cli (or 'make demo') gives the report without one.\n");
        return 1;
    }
    tarnwell::MainApp app;
    return app.Run(argc, argv);
}
