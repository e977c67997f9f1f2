#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace duplora::cli {

// Runs the console program with its arguments (without the program name);
// returns the exit code. Tests call it in-process with their own streams.
// `in` is read only for a secret given as `--net-password -`.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           std::istream& in);
// The same with the process's standard input.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace duplora::cli
