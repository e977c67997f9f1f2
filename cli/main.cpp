// Entry of the console program; everything else is in the cli library.
#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include <iostream>

int main(int argc, char** argv) {
    duplora::cli::InstallInterruptHandler();
    std::vector<std::string> args(argv + 1, argv + argc);
    return duplora::cli::RunCli(args, std::cout, std::cerr);
}
