// tarnwell: the window. Without a display it says where to go instead of failing in the toolkit.
#include <cstdio>
#include <cstdlib>

#include "app/MainApp.h"

namespace {

bool HasDisplay()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
    return set(platform) || set(x11) || set(wayland);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr, "tarnwell: no display to open the window on; "
                             "tarnwell-cli (or 'make demo') gives the report without one.\n");
        return 1;
    }
    tarnwell::MainApp app;
    return app.Run(argc, argv);
}
