#pragma once
// Program-wide switches set once by the command line and read by the run
// pipeline and the main window. All start false and keep their value for the
// rest of the process.

namespace duplora {

struct RunFlags {
    // Tasks were selected on the command line: runs ask nothing, show no
    // preview and no result, and the program ends after them.
    bool command_line_run = false;
    // "/H": start minimised into the notification area.
    bool start_hidden = false;
    // "-C": runs treat the mirror folder as empty instead of listing it.
    bool skip_mirror_scan = false;
};

} // namespace duplora
