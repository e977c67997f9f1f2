#include "sync/compare/RootRelation.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace duplora {

namespace {

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
};

bool FolderIdentity(const std::string& path, Identity& id) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

// True when a folder above `inner` (not `inner` itself) is `outer`. The walk
// goes up the resolved path, so links in `inner`'s spelling are followed
// first; a depth of a few dozen folders costs a few dozen stat calls.
bool LiesBelow(const std::string& inner, const Identity& outer) {
    char* resolved = ::realpath(inner.c_str(), nullptr);
    if (!resolved)
        return false;
    std::string path(resolved);
    std::free(resolved);
    while (path.size() > 1) {
        const std::size_t slash = path.rfind('/');
        path.resize(slash == 0 ? 1 : slash);
        Identity id;
        if (FolderIdentity(path, id) && id == outer)
            return true;
    }
    return false;
}

} // namespace

RootRelation RelateRoots(const std::string& hostRoot, const std::string& mirrorRoot) {
    Identity host, mirror;
    if (!FolderIdentity(hostRoot, host) || !FolderIdentity(mirrorRoot, mirror))
        return RootRelation::Apart;
    if (host == mirror)
        return RootRelation::Same;
    if (LiesBelow(mirrorRoot, host))
        return RootRelation::MirrorInsideHost;
    if (LiesBelow(hostRoot, mirror))
        return RootRelation::HostInsideMirror;
    return RootRelation::Apart;
}

} // namespace duplora
