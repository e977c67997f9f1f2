#include "cli/EditConfig.h"

#include "tasks/ConfigEdit.h"

#include <ostream>

namespace duplora::cli {

int EditConfig(const std::string& configPath, const std::function<int(TaskList&)>& modify,
               std::ostream& err) {
    int code = 0;
    std::string error;
    const EditStatus status = EditConfiguration(
        configPath,
        [&](TaskList& list) {
            code = modify(list);
            if (code == 0)
                list.setChanged();
            return code == 0;
        },
        error);
    switch (status) {
    case EditStatus::Saved:
        return 0;
    case EditStatus::NotChanged:
        return code;
    case EditStatus::CannotOpen:
        err << "duplora-cli: " << error << '\n';
        return 2;
    case EditStatus::LockFailed:
    case EditStatus::SaveFailed:
        break;
    }
    err << "duplora-cli: " << error << '\n';
    return 1;
}

} // namespace duplora::cli
