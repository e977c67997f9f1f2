#pragma once
// Network shares around one run:
//
//   PrepareRoots ─ ConnectForRun ─ SafetyTest ─ ... run ... ─ DisconnectAfterRun
//
// ConnectForRun picks the share to connect (the host root's if it is one,
// else the mirror root's); with the task's user name or password set it
// connects that share (TNetConnection), else it takes an existing mount. It
// then points every share root at its mount's local folder, so nothing of
// the run ever sees a "//server/share" text: on Linux that would be the
// local folder /server/share. A share root that cannot be reached abandons
// the run before anything is read. Every share the run uses, connected or
// found mounted, counts as used by this run until DisconnectAfterRun
// (ShareUse.h), so that no other run unmounts it meanwhile.

#include "platform/NetConn.h"
#include "platform/ShareMount.h"
#include "platform/SharePath.h"
#include "platform/ShareUse.h"

#include <string>

namespace duplora {

struct RunContext;

class ShareConnector {
public:
    // null: the process's GVfs mounter.
    explicit ShareConnector(ShareMounter* mounter = nullptr);

    // True: go on with the run. False: the run is abandoned; unless the run
    // is from the command line or the task is in auto mode, message 108 has
    // been shown; Error() holds "ERROR: " and the reason (never a password);
    // nothing stays connected.
    bool ConnectForRun(RunContext& run);
    // After the run, also when nothing was synchronised: cancels what
    // ConnectForRun connected, forced. Returns "" or the EDisconnectError
    // text; the connection is forgotten either way, so a failure here cannot
    // keep a later run from connecting.
    std::string DisconnectAfterRun();
    // A connection is there to cancel (NetCon's LocalName is not blank).
    bool Connected() const { return !IsBlank(NetCon.LocalName()); }

    const std::string& Error() const { return error_; }
    // What the last DisconnectAfterRun returned.
    const std::string& DisconnectError() const { return disconnectError_; }
    int ErrorCode() const { return errorCode_; }

    TNetConnection NetCon; // ResourceType rtDisk

private:
    bool resolve(std::string& root, const SharePath& share, bool connected, ShareUse& use);
    void fail(RunContext& run, int code);
    ShareMounter& mounter() { return mounter_ ? *mounter_ : GvfsMounter(); }

    ShareMounter* mounter_;
    // The host's and the mirror's share when found mounted, not connected.
    ShareUse found_[2];
    std::string error_;
    std::string disconnectError_;
    int errorCode_ = 0;
};

} // namespace duplora
