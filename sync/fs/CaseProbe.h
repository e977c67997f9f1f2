#pragma once
// Whether a root folds letter case, found out by asking the file system
// itself rather than by its type: exFAT through FUSE reports itself as a
// plain "fuseblk", ext4 can fold per folder (casefold), and a share's server
// decides for itself.
//
// In order, until one gives an answer:
//   1. look up an existing entry's name with the case swapped, and check
//      whether the listing holds that other spelling as an entry of its own
//      (nothing is written);
//   2. a writable root without such an entry (an empty one, say): create a
//      probe file of a unique name and a random size, look it up with the
//      letters' case swapped, remove it, and put the root's access and
//      modification times back, so that `duplora-cli plan` changes nothing;
//   3. the file-system type (vfat, exfat, ntfs, cifs/smb, and FUSE mounts
//      whose subtype is exfat, ntfs or ntfs-3g).
// A missing root is asked through its nearest existing parent, without
// creating anything there: nothing is written outside the two roots.

#include <string>
#include <string_view>
#include <sys/types.h>

namespace duplora {

bool RootFoldsCase(const std::string& root);

// ".duplora-case-probe-" + 12 of [a-z0-9]: the probe file's name. A scan
// never reports it (another run may be probing the same root right now).
bool IsCaseProbeName(std::string_view name);

// Step 3 alone, for the root or its nearest existing parent.
bool MountTypeFoldsCase(const std::string& path);

// Whether the /proc/self/mountinfo text names a FUSE mount of device `dev`
// whose subtype folds case ("fuse.exfat", "fuseblk.ntfs-3g", ...).
bool FuseSubtypeFoldsCase(std::string_view mountinfo, dev_t dev);

} // namespace duplora
