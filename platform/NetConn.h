#pragma once
// TNetConnection: one connection to a network share with a user name and
// password. On Linux connecting means mounting smb://server/share through
// GVfs (ShareMount.h); the share's local folder is then MountPath() and, for
// a disk connection, LocalName, which tells the run that a connection is
// there to cancel. A share that was mounted before Connect (opened in the
// file manager, say) is used as it is, and Disconnect leaves it mounted.
// Runs in other processes count too (ShareUse.h): a share stays mounted while
// any run uses it, and the last connection out unmounts it when a Duplora
// run mounted it.

#include "platform/NetErrors.h"
#include "platform/ShareUse.h"

#include <stdexcept>
#include <string>

namespace duplora {

class ShareMounter;

enum class TResourceTypes { rtDisk, rtPrint, rtAny };

// Misuse of the properties; the property keeps its value.
class EParameterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "ERROR: " and the code's text. Never holds a password.
class ENetError : public std::runtime_error {
public:
    explicit ENetError(int code)
        : std::runtime_error("ERROR: " + NetErrorText(code)), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};
class EConnectError : public ENetError {
public:
    using ENetError::ENetError;
};
class EDisconnectError : public ENetError {
public:
    using ENetError::ENetError;
};

class TNetConnection {
public:
    // null: the process's GVfs mounter.
    explicit TNetConnection(ShareMounter* mounter = nullptr);
    ~TNetConnection();
    TNetConnection(const TNetConnection&) = delete;
    TNetConnection& operator=(const TNetConnection&) = delete;

    const std::string& UserName() const { return userName_; }
    void SetUserName(std::string v) { userName_ = std::move(v); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string v) { password_ = std::move(v); }
    TResourceTypes ResourceType() const { return resourceType_; }
    void SetResourceType(TResourceTypes v);
    const std::string& LocalName() const { return localName_; }
    void SetLocalName(std::string v);
    // "//server/share" (any of the forms of SharePath.h).
    const std::string& RemoteName() const { return remoteName_; }
    void SetRemoteName(std::string v) { remoteName_ = std::move(v); }
    bool ReconnectAtLogon() const { return reconnectAtLogon_; }
    void SetReconnectAtLogon(bool v);
    const std::string& Provider() const { return provider_; }
    void SetProvider(std::string v) { provider_ = std::move(v); }

    // Mounts RemoteName with UserName and Password (or takes the share's
    // existing mount). Throws EConnectError.
    void Connect();
    // Leaves the share; unmounts it when no other run uses it and a Duplora
    // run mounted it (a mount that was there before stays). Throws
    // EDisconnectError (2250 when nothing is connected).
    void Disconnect(bool force);

    // The share's local folder after Connect; empty when not connected.
    const std::string& MountPath() const { return mountPath_; }
    // Connect mounted the share itself (Disconnect will unmount it).
    bool MountedByUs() const { return mountedByUs_; }

private:
    ShareMounter& mounter();
    // Leaves use_ and unmounts when it says so: 0 or the unmount's error.
    int leaveShare(bool force);

    ShareMounter* mounter_;
    std::string userName_, password_, localName_, remoteName_, provider_;
    TResourceTypes resourceType_ = TResourceTypes::rtAny;
    bool reconnectAtLogon_ = false;
    std::string mountPath_;
    std::string mountedUri_;
    bool mountedByUs_ = false;
    ShareUse use_;
};

// Empty after removing leading and trailing spaces and control characters.
bool IsBlank(const std::string& text);

} // namespace duplora
