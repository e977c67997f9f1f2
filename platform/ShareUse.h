#pragma once
// Which runs use which share, across processes: a share stays mounted while
// any Duplora run uses it, and the last run out unmounts it when a Duplora
// run mounted it (one the user mounted stays).
//
// Per share (its smb:// URI) three files in a private folder of the user
// (ShareMounter::UsersFolder()):
//   H.gate     locked exclusively (flock) around every decision: look for the
//              mount and mount it, or leave and unmount it
//   H.users    every run that uses the share holds a shared lock on it
//   H.mounted  there while the share is mounted by a Duplora run
// H is a hash of the URI. A run leaving under the gate drops its shared lock
// and then takes an exclusive one without waiting: it gets it only when no
// other run holds the share. Locks go with their process, so a run killed
// half-way never keeps a share in use; its mark stays for the last run out.
//
//   connect:  Enter ─ FindMount ─ (NoteMounted(false) ─ Mount ─ NoteMounted(true)) ─ Admit
//   end:      Leave ─ true: Unmount ─ Done

#include <string>

namespace duplora {

class ShareUse {
public:
    ShareUse() = default;
    ~ShareUse();
    ShareUse(const ShareUse&) = delete;
    ShareUse& operator=(const ShareUse&) = delete;

    // Waits for the share's gate and joins its users; the gate stays held
    // until Admit(). False (nothing held) when `folder` is empty or its files
    // cannot be made: the caller then decides alone, as a single run would.
    bool Enter(const std::string& folder, const std::string& uri);
    // Under the gate: the share is (true) or is not (false) mounted by a
    // Duplora run now. Called with false when the share was found unmounted,
    // which drops a mark left by a run that died.
    void NoteMounted(bool byDuplora);
    // Lets other runs decide again.
    void Admit();
    // Waits for the gate (unless still held since Enter()) and leaves. True
    // when no other run uses the share
    // and a Duplora run mounted it: the caller unmounts it and calls Done(),
    // the gate held meanwhile. False: nothing to do, everything released.
    bool Leave();
    // After Leave() returned true: whether the share is unmounted now.
    void Done(bool unmounted);

    bool Entered() const { return users_ >= 0; }
    const std::string& Uri() const { return uri_; }

private:
    void releaseAll();

    std::string base_; // folder + '/' + H
    std::string uri_;
    int gate_ = -1;
    int users_ = -1;
};

} // namespace duplora
