// Entry of the console program; everything else is in the cli library.
#include "cli/Cli.h"
#include "cli/Interrupt.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv) {
    duplora::cli::InstallInterruptHandler();
    // `duplora-cli run t | head -1`: a reader that goes away must stop the
    // printing, not the run. With SIGPIPE ignored a write to the closed pipe
    // fails with EPIPE, std::cout turns bad and prints nothing more, and the
    // run goes on to its end and its log block.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    return duplora::cli::RunCli(args, std::cout, std::cerr);
}
