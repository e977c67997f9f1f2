#include "sync/share/ShareRun.h"

#include "platform/ShareMount.h"
#include "sync/fs/CaseProbe.h"
#include "sync/run/RunContext.h"
#include "tasks/TextTable.h"

namespace duplora {

ShareConnector::ShareConnector(ShareMounter* mounter) : NetCon(mounter), mounter_(mounter) {
    NetCon.SetResourceType(TResourceTypes::rtDisk);
}

void ShareConnector::fail(RunContext& run, int code) {
    errorCode_ = code;
    error_ = "ERROR: " + NetErrorText(code);
    // The reason (a wrong password, a server that does not answer) is the
    // console's text for the same code.
    if (!run.Quiet())
        run.ui().ShowMessage(Msg(108) + "\n" + error_, Msg(31));
    run.Outcome = RunOutcome::Unreachable;
}

// `root` becomes the local folder of `share`: the connection's own mount, or
// an existing one.
bool ShareConnector::resolve(std::string& root, const SharePath& share, bool connected,
                             ShareUse& use) {
    std::string mount;
    if (connected) {
        mount = NetCon.MountPath();
    } else {
        use.Enter(mounter().UsersFolder(), share.Uri());
        mount = mounter().FindMount(share.Uri());
        use.Admit();
    }
    if (mount.empty())
        return false;
    root = share.LocalPath(mount);
    return true;
}

bool ShareConnector::ConnectForRun(RunContext& run) {
    error_.clear();
    errorCode_ = 0;
    SharePath host, mirror;
    const ShareForm hostForm = ParseSharePath(run.HostRoot, host);
    const ShareForm mirrorForm = ParseSharePath(run.MirrorRoot, mirror);
    if (hostForm == ShareForm::Invalid || mirrorForm == ShareForm::Invalid) {
        fail(run, kNetBadName);
        return false;
    }
    NetCon.SetLocalName("");
    if (hostForm == ShareForm::NotShare && mirrorForm == ShareForm::NotShare)
        return true;

    // One share is connected per run, the host's first.
    const SharePath& picked = hostForm == ShareForm::Share ? host : mirror;
    const bool credentials = !run.Task.net_user().empty() || !run.Task.net_password().empty();
    if (credentials) {
        NetCon.SetUserName(run.Task.net_user());
        NetCon.SetPassword(run.Task.net_password());
        NetCon.SetRemoteName(picked.RemoteName());
        try {
            NetCon.Connect();
        } catch (const EConnectError& e) {
            NetCon.SetPassword("");
            fail(run, e.code());
            return false;
        }
        NetCon.SetPassword("");
    }
    const std::string hostTyped = run.HostRoot, mirrorTyped = run.MirrorRoot;
    const bool hostOk =
        hostForm != ShareForm::Share ||
        resolve(run.HostRoot, host, credentials && SameShare(host, picked), found_[0]);
    const bool mirrorOk = hostOk && (mirrorForm != ShareForm::Share ||
                                     resolve(run.MirrorRoot, mirror,
                                             credentials && SameShare(mirror, picked), found_[1]));
    if (!hostOk || !mirrorOk) {
        DisconnectAfterRun();
        fail(run, kNetPathNotFound);
        return false;
    }
    // The user is shown the share as typed, not its mount's local path.
    if (hostForm == ShareForm::Share) {
        run.HostShown = hostTyped;
        if (run.Lines)
            run.Lines->ShowPathAs(run.HostRoot, hostTyped);
    }
    if (mirrorForm == ShareForm::Share) {
        run.MirrorShown = mirrorTyped;
        if (run.Lines)
            run.Lines->ShowPathAs(run.MirrorRoot, mirrorTyped);
    }
    // Whether the server folds case (Windows always does, Samba by default)
    // is asked of the mounted folder itself: before, the probe could only
    // see the share's text.
    if (hostForm == ShareForm::Share)
        run.HostFoldsCase = RootFoldsCase(run.HostRoot);
    if (mirrorForm == ShareForm::Share)
        run.MirrorFoldsCase = RootFoldsCase(run.MirrorRoot);
    run.FoldCase = run.HostFoldsCase || run.MirrorFoldsCase;
    return true;
}

std::string ShareConnector::DisconnectAfterRun() {
    disconnectError_.clear();
    // A found share that a Duplora run mounted goes with the last run out.
    for (ShareUse& use : found_)
        if (use.Leave()) {
            const int code = mounter().Unmount(use.Uri(), true);
            use.Done(code == 0 || code == kNetNotConnected);
        }
    if (!Connected())
        return "";
    try {
        NetCon.Disconnect(true);
    } catch (const EDisconnectError& e) {
        disconnectError_ = e.what();
    }
    NetCon.SetLocalName("");
    return disconnectError_;
}

} // namespace duplora
