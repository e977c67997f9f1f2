#include "sync/run/RunMarker.h"

namespace duplora {

std::atomic<int>& RunInProgress() {
    static std::atomic<int> marker{0};
    return marker;
}

} // namespace duplora
