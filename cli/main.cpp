// tarnwell-cli: the headless front end. Everything but the real streams, the terminal test and
// the picture drawing lives in tarnwell_cli_core, so the tests run the same code in-process.
#include <unistd.h>

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/Interrupt.h"
#ifdef TARNWELL_WITH_CHARTS
#include "charts/ChartRenderer.h"
#endif

int main(int argc, char** argv)
{
    tarnwell::CatchInterrupts();
    tarnwell::PictureWriter pictures;
#ifdef TARNWELL_WITH_CHARTS
    pictures = tarnwell::RenderPictures;
#endif
    return tarnwell::CommandLineMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1,
                                     pictures);
}
