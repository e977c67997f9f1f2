#pragma once
// How the two prepared roots of a task lie to each other, judged by device
// and inode rather than by spelling: a folder reached through a link, a
// macro, "..", or another letter case on a case-insensitive disk is still
// recognised.

#include <string>

namespace duplora {

enum class RootRelation {
    Apart,            // neither holds the other (or one does not exist)
    Same,             // one folder
    MirrorInsideHost, // the mirror lies below the host
    HostInsideMirror, // the host lies below the mirror
};

RootRelation RelateRoots(const std::string& hostRoot, const std::string& mirrorRoot);

} // namespace duplora
