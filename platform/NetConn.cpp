#include "platform/NetConn.h"

#include "platform/ShareMount.h"
#include "platform/SharePath.h"

namespace duplora {

std::string NetErrorText(int code) {
    switch (code) {
    case 5:
        return "Access to network resource denied";
    case 53:
        return "Network path not found";
    case 66:
        return "Local device type does not match network resource type";
    case 67:
        return "Network resource name is invalid or unlocatable";
    case 85:
        return "Local device already assigned";
    case 86:
        return "Invalid password";
    case 170:
        return "Provider is busy";
    case 1200:
        return "Local device is invalid";
    case 1202:
        return "Connection already remembered";
    case 1203:
        return "Network not started or name could not be handled";
    case 1204:
        return "Provider property does not match any provider";
    case 1205:
        return "Cannot save reconnect at logon information";
    case 1206:
        return "User profile is in an incorrect format";
    case 1208:
        return "A network specific error occurred";
    case 1222:
        return "No network present";
    case 1223:
        return "Connection attempt cancelled";
    case 1326:
        return "User name or password incorrect";
    case 2250:
        return "Not connected to specified resource or on specified device";
    case 2401:
        return "Files are open on resource and force disconnect not specified";
    case 2404:
        return "Device in use by active process, cannot disconnect";
    default:
        return std::to_string(code) + ": Unhandled Error";
    }
}

bool IsBlank(const std::string& text) {
    for (unsigned char c : text)
        if (c > ' ')
            return false;
    return true;
}

TNetConnection::TNetConnection(ShareMounter* mounter) : mounter_(mounter) {}

TNetConnection::~TNetConnection() = default;

ShareMounter& TNetConnection::mounter() {
    return mounter_ ? *mounter_ : GvfsMounter();
}

void TNetConnection::SetResourceType(TResourceTypes v) {
    if (v == TResourceTypes::rtAny && !IsBlank(localName_))
        throw EParameterError("Cannot be rtAny when LocalName is set");
    resourceType_ = v;
}

void TNetConnection::SetLocalName(std::string v) {
    if (IsBlank(v)) {
        localName_ = std::move(v);
        reconnectAtLogon_ = false;
        return;
    }
    if (resourceType_ == TResourceTypes::rtAny)
        throw EParameterError("Cannot be set when ResourseType is rtAny");
    localName_ = std::move(v);
}

void TNetConnection::SetReconnectAtLogon(bool v) {
    if (v && IsBlank(localName_))
        throw EParameterError("No local resource assigned");
    reconnectAtLogon_ = v;
}

int TNetConnection::leaveShare(bool force) {
    if (!use_.Leave())
        return 0;
    const int code = mounter().Unmount(use_.Uri(), force);
    use_.Done(code == 0 || code == kNetNotConnected);
    return code == kNetNotConnected ? 0 : code;
}

void TNetConnection::Connect() {
    SharePath share;
    if (ParseSharePath(remoteName_, share) != ShareForm::Share)
        throw EConnectError(kNetBadName);
    if (resourceType_ == TResourceTypes::rtPrint)
        throw EConnectError(kNetDeviceTypeMismatch);
    const std::string uri = share.Uri();
    if (use_.Entered() && use_.Uri() != uri) {
        leaveShare(true);
        mountedByUs_ = false;
    }
    // Looking for the mount and mounting are one step for the other runs.
    use_.Enter(mounter().UsersFolder(), uri);
    std::string path = mounter().FindMount(uri);
    bool mountedNow = false;
    if (path.empty()) {
        use_.NoteMounted(false);
        int code = mounter().Mount(uri, CredentialsFor(userName_, password_), path);
        if (code == 0 && path.empty())
            code = kNetNotStarted;
        if (code != 0) {
            use_.Leave(); // not marked: releases everything
            throw EConnectError(code);
        }
        use_.NoteMounted(true);
        mountedNow = true;
    }
    use_.Admit();
    // A second Connect over one that this connection mounted keeps the duty
    // to unmount it.
    mountedByUs_ = mountedNow || (mountedByUs_ && mountedUri_ == uri);
    mountedUri_ = uri;
    mountPath_ = path;
    if (resourceType_ == TResourceTypes::rtDisk)
        localName_ = path;
}

void TNetConnection::Disconnect(bool force) {
    if (mountPath_.empty())
        throw EDisconnectError(kNetNotConnected);
    int code = 0;
    if (use_.Entered())
        code = leaveShare(force);
    else if (mountedByUs_)
        code = mounter().Unmount(mountedUri_, force);
    if (code != 0)
        throw EDisconnectError(code);
    mountedByUs_ = false;
    mountPath_.clear();
    mountedUri_.clear();
}

} // namespace duplora
