#pragma once
// The versioning folder of a task whose on_delete is Versions: where a run
// puts every file it deletes and every file a copy replaces.
//
// The folder is either relative to each side ("versions" keeps host files in
// HOST/versions and mirror files in MIRROR/versions) or absolute (one folder
// outside both sides for the files of both). A file set aside keeps its path
// below the side, with the time it was set aside before its extension.

#include "sync/fs/BelowRoot.h"
#include "sync/setaside/SetAside.h"
#include "tasks/TaskRecord.h"

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// "" when `folder` can take the files of a Versions task with these roots;
// otherwise a message in the current language saying what is wrong. Only a
// task in Versions mode is asked, so an empty folder is a problem here.
// Refused: an empty folder; a folder that is a root; an absolute folder inside
// either root (it would be inside the other side for that side's files) or
// holding one; any ".." component; a relative folder whose existing
// components below a root include a link or a file; a relative folder that
// lands inside or around the other root (nested roots).
// The roots are taken as given apart from a trailing '/': pass them as a run
// prepares them (macros expanded), or use the TaskRecord form.
std::string VersionsFolderProblem(std::string_view folder, std::string_view hostRoot,
                                  std::string_view mirrorRoot);

// The same for a task as it is stored: "" unless on_delete is Versions, and
// the roots prepared from host_path and mirror_path like a run's.
std::string VersionsFolderProblem(const TaskRecord& task);

// Where each side's files go: full paths without a trailing '/'. `Relative`:
// Host lies below the host root and Mirror below the mirror root, and each
// side's scan has to leave it out. Only meaningful for a folder without a
// problem.
struct VersionsPlace {
    std::string Host;
    std::string Mirror;
    bool Relative = false;
};
VersionsPlace ResolveVersionsFolder(std::string_view folder, std::string_view hostRoot,
                                    std::string_view mirrorRoot);

// The name a file set aside at `when` (local time) gets: "report.doc" ->
// "report 2026-12-08 221530.doc", "notes" -> "notes 2026-12-08 221530"; a
// `number` above 1 adds " (2)" and so on before the extension. A leading '.'
// (".profile") starts no extension. A name that would grow beyond the 255
// bytes a file name may have is cut before its extension (an extension of
// more than 32 bytes counts as part of the name), at a character boundary,
// and "~" and eight hex digits of a hash of the cut part follow the kept
// part: "<first 200 bytes>~1a2b3c4d 2026-12-08 221530.doc".
std::string VersionName(std::string_view name, std::time_t when, int number = 1);

// One run's versioning folder: each file goes to the side's folder under its
// path below the side, with a stamped name that is never taken twice (a
// second file of the same second gets " (2)"). Folders are made as needed;
// below a side no link is followed. A rename moves the file; where the folder
// is on another volume (an absolute one), the file is copied to a temporary
// file there (the copier's ".NAME.duplora-tmp-XXXXXXXX", locked while it is
// written), flushed to disk, renamed to its name, and only then removed.
//
// The versioning folder is never scanned, so a copy cut off by a crash or
// kill -9 would stay there for ever. While copies across volumes are made,
// the folder holds a marker ".duplora-copying-XXXXXXXX" that the run keeps
// locked and removes when its copies have ended (Settle()); RemoveLeftovers() of a later run finds
// a marker nobody holds and only then walks the folder for temporary files that no living copy
// holds. A run that never crashed costs one listing of the folder's top, not a walk of every
// version kept.
class VersionsFolder final : public SetAside {
public:
    VersionsFolder(VersionsPlace place, std::string hostRoot, std::string mirrorRoot,
                   std::function<std::time_t()> clock = {});
    ~VersionsFolder() override;
    VersionsFolder(const VersionsFolder&) = delete;
    VersionsFolder& operator=(const VersionsFolder&) = delete;
    bool Put(int folderFd, const std::string& name, const std::string& root, std::string_view rel,
             std::string& why) override;
    int FailureText() const override { return 208; }
    std::vector<std::string> RemoveLeftovers() override;
    // Every Put() of the step has ended: the markers go.
    void Settle() override;

private:
    // The marker of copies in progress in `top`; false when it cannot be made
    // (then no copy across volumes is started there).
    bool markCopying(const std::string& top, const std::string& base);

    VersionsPlace place_;
    std::string hostRoot_;
    std::string mirrorRoot_;
    std::function<std::time_t()> clock_;
    // Put() runs on the copy workers too.
    std::mutex lock_;
    struct Mark {
        std::string top;  // the versioning folder
        std::string name; // the marker's name in it
        Fd fd;            // holds the lock
    };
    std::vector<Mark> marks_;
};

} // namespace duplora
