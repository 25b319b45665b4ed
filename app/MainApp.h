// MainApp: the application. Its whole life is one modal showing of the main window; when the
// window closes, the program ends.
#pragma once

#include <optional>

#include "ui/StartArguments.h"

namespace tarnwell {

class MainApp {
public:
    // Sets up the toolkit and runs InitInstance; the process's exit status.
    int Run(int argc, char** argv);

private:
    // Shows the main window modally, its path boxes filled with the captures given at start.
    // False: there is no message loop of our own to enter.
    bool InitInstance(const std::optional<StartCaptures>& captures);
};

}  // namespace tarnwell
