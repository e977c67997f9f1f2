#include "app/gui/CommandLine.h"

namespace duplora {

bool ApplyCommandLine(const std::vector<std::string>& args, TaskList& list, RunFlags& flags) {
    std::size_t k = 1;
    if (!args.empty() && EqualsNoCase(args[0], "/H")) {
        flags.start_hidden = true;
        k = 2;
    }
    // A selector counts only as the one argument after an optional "/H";
    // with more arguments nothing is selected and they are ignored.
    if (args.size() != k)
        return false;

    flags.command_line_run = true;
    const std::string& arg = args[k - 1];
    const std::string_view head = std::string_view(arg).substr(0, 2);
    bool ticked = false;
    if (EqualsNoCase(head, "/A")) {
        for (auto& task : list.tasks()) {
            if (task.record.auto_mode()) {
                task.checked = true;
                ticked = true;
            }
        }
    } else if (EqualsNoCase(head, "-A") || EqualsNoCase(head, "-C")) {
        const bool skipMirror = EqualsNoCase(head, "-C");
        for (std::size_t i : list.findNoCase(std::string_view(arg).substr(2))) {
            list[i].checked = true;
            ticked = true;
            if (skipMirror)
                flags.skip_mirror_scan = true;
        }
    }
    return !ticked && !flags.start_hidden;
}

namespace {

// The selector argument: the one after an optional "/H".
std::size_t SelectorIndex(const std::vector<std::string>& args) {
    return !args.empty() && EqualsNoCase(args[0], "/H") ? 1 : 0;
}

} // namespace

std::string InfoSwitchText(const std::vector<std::string>& args) {
    if (args.size() != 1)
        return {};
    const std::string& a = args[0];
    if (a == "--version")
        return std::string("duplora ") + DUPLORA_VERSION + "\n";
    if (a == "--help" || a == "-h" || a == "/?")
        return "Usage: duplora [/H] [/A | -Aname | -Cname]\n"
               "Keeps pairs of folders in step; tasks are kept in Duplora.cfg.\n"
               "\n"
               "  /H       start minimised (in the notification area)\n"
               "  /A       run every task in auto mode, then end\n"
               "  -Aname   run the tasks called name (any letter case), then end;\n"
               "           the name is part of the same argument: -A\"Photos backup\"\n"
               "  -Cname   as -A, but treat the mirror folder as empty\n"
               "  --help, --version\n"
               "\n"
               "A run from the command line shows no window but its progress, prints its\n"
               "result lines and ends with 0 when every task finished without failures,\n"
               "1 when a run failed or was refused, and 2 when no task matched.\n"
               "The console program duplora-cli offers the same runs and more.\n";
    return {};
}

std::string SplitSelectorHint(const std::vector<std::string>& args) {
    const std::size_t k = SelectorIndex(args);
    if (args.size() < k + 2)
        return {};
    const std::string& sel = args[k];
    if (!(EqualsNoCase(sel, "-A") || EqualsNoCase(sel, "-C")))
        return {};
    std::string name = args[k + 1];
    for (std::size_t i = k + 2; i < args.size(); ++i)
        name += " " + args[i];
    return "duplora: nothing is run: the task name belongs in the same argument as " + sel +
           ", as in " + sel + "\"" + name + "\"\n";
}

std::string NoTaskMatchedText(const std::vector<std::string>& args) {
    const std::size_t k = SelectorIndex(args);
    if (k >= args.size())
        return {};
    const std::string& sel = args[k];
    const std::string_view head = std::string_view(sel).substr(0, 2);
    if (EqualsNoCase(head, "/A"))
        return "duplora: no task is in auto mode\n";
    if (EqualsNoCase(head, "-A") || EqualsNoCase(head, "-C"))
        return "duplora: no task matched '" + sel.substr(2) + "'\n";
    return "duplora: '" + sel + "' selects no task (see duplora --help)\n";
}

} // namespace duplora
