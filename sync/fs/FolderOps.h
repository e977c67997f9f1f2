#pragma once
// Creating and removing empty folders below a root without ever following a
// link: every component below the root is opened with O_NOFOLLOW, so a
// folder replaced by a link since the scan stops the operation instead of
// leading it outside the root.

#include <string>
#include <string_view>

namespace duplora {

// root + rel, where rel starts with '/': "/x" + "/a" = "/x/a", "/" + "/a" = "/a".
std::string JoinRoot(const std::string& root, std::string_view rel);

// Removes root + rel when it is a real, empty folder. `rel` starts with '/'
// and names a folder strictly below the root; an empty root is refused.
bool RemoveEmptyFolderBelow(const std::string& root, std::string_view rel);
// Creates root + rel with its missing parents below the root (a missing root
// is created too). False when a component is a link or not a folder.
bool CreateFolderBelow(const std::string& root, std::string_view rel);

// The statfs type of the file system `path` is on, or, when it does not
// exist yet, its nearest existing parent's (a relative path ends at the
// working folder); 0 when none can be asked.
unsigned long FileSystemTypeOf(const std::string& path);

// True when `path` (or the nearest folder above it that exists) lies on a
// network file system or behind FUSE, where every call may wait for a server.
bool OnRemoteFileSystem(const std::string& path);

// The same for a file system type from statfs.
bool RemoteFileSystemType(unsigned long type);

// Whether the root (or, when it does not exist yet, its nearest existing
// parent) lies on a file system that ignores letter case: vfat, exfat, ntfs,
// cifs/smb.
bool FileSystemFoldsCase(const std::string& path);

// An existing folder (a link to one counts).
bool IsFolder(const std::string& path);

} // namespace duplora
