// MainApp: the application. Its whole life is one modal showing of the main window; when the
// window closes, the program ends.
#pragma once

namespace tarnwell {

class MainApp {
public:
    // Sets up the toolkit and runs InitInstance; the process's exit status.
    int Run(int argc, char** argv);

private:
    // Shows the main window modally. False: there is no message loop of our own to enter.
    bool InitInstance();
};

}  // namespace tarnwell
