#pragma once
// Where a run puts a file it deletes, or one a copy is about to replace,
// instead of destroying it: the desktop's trash or the task's versioning
// folder. The executor calls Put() right after it checked that the file is
// still what the scan saw, and goes on (the delete counts, the copy is renamed
// in) only when Put() succeeded; otherwise the file stays where it was.

#include <string>
#include <string_view>
#include <vector>

namespace duplora {

class SetAside {
public:
    virtual ~SetAside() = default;
    // Moves `name` out of the open folder `folderFd`, which is the folder of
    // root + rel (rel below the root, starting with '/'). False when the file
    // is still in its place; `why` then says why (the system's error text or
    // a text of the table).
    virtual bool Put(int folderFd, const std::string& name, const std::string& root,
                     std::string_view rel, std::string& why) = 0;
    // The result line's text for a failed Put: "%1" takes `why`, the full path
    // follows.
    virtual int FailureText() const = 0;

    // The full paths of the files the coming deletes will hand to Put(), in
    // their order, so that work that does not depend on the file itself can
    // start ahead. Put() still decides each file; a path never put costs
    // nothing but what Settle() clears.
    virtual void Expect(std::vector<std::string> paths) { (void)paths; }
    // Ends what Expect() started: waits for work ahead and undoes what was
    // prepared for files that were not put (cancelled, changed, failed).
    virtual void Settle() {}

    // Removes what an earlier run killed in the middle of a Put() left
    // behind, before this run puts anything; returns the full paths removed.
    virtual std::vector<std::string> RemoveLeftovers() { return {}; }
};

} // namespace duplora
