#include "cli/Cli.h"

#include <ostream>

namespace duplora::cli {

int RunCli(const std::vector<std::string>& /*args*/, std::ostream& /*out*/, std::ostream& err) {
    err << "duplora-cli: not implemented yet\n";
    return 2;
}

} // namespace duplora::cli
