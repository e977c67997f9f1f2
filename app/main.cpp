// Entry of the desktop program; the start-up sequence lives in app/gui.
#include "app/gui/CommandLine.h"
#include "app/gui/StartUp.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // Before the toolkit: --help and --version need no display.
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (const std::string info = duplora::InfoSwitchText(args); !info.empty()) {
        std::fputs(info.c_str(), stdout);
        return 0;
    }
    if (const std::string hint = duplora::SplitSelectorHint(args); !hint.empty())
        std::fputs(hint.c_str(), stderr);
    // A command-line run prints its result lines; a reader that went away
    // (`duplora -Atask | head -1`) stops the printing, not the run.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    return duplora::RunDesktopProgram(app);
}
