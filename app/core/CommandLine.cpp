#include "app/core/CommandLine.h"

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

} // namespace duplora
