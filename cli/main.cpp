// tarnwell-cli: the headless front end. Everything but the real streams and the terminal
// test lives in tarnwell_cli_core, so the tests run the same code in-process.
#include <unistd.h>

#include <iostream>

#include "cli/CommandLine.h"

int main(int argc, char** argv)
{
    return tarnwell::CommandLineMain(argc, argv, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
