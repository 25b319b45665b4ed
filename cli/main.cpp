// tarnwell-cli: the headless front end. Everything but the real streams, the terminal test and
// the picture module lives in tarnwell_cli_core, so the tests run the same code in-process.
#include <unistd.h>

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/HtmlReport.h"
#include "cli/Interrupt.h"
#include "cli/PictureLoader.h"

int main(int argc, char** argv)
{
    tarnwell::CatchInterrupts();
    tarnwell::PictureLoader pictures;  // loaded on the first picture, if any
    tarnwell::SetSvgDrawer(pictures.SvgWriter());
    return tarnwell::CommandLineMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                                     pictures.Writer());
}
