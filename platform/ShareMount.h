#pragma once
// Mounting SMB shares for a run, behind an interface so that the connection
// rules can be tested without a server. The real one (GvfsMounter) asks the
// desktop's GVfs daemons through GIO, the way the file manager opens a share:
// no root rights, and the share appears as a local folder through GVfs's
// FUSE bridge.

#include <functional>
#include <string>

namespace duplora {

struct ShareCredentials {
    std::string user;
    std::string domain; // empty: the server's default
    std::string password;
};

// Splits a task's user name: "DOMAIN\user" and "user@DOMAIN" carry a
// domain; anything else is the user alone.
ShareCredentials CredentialsFor(const std::string& netUser, const std::string& password);

class ShareMounter {
public:
    virtual ~ShareMounter() = default;
    // The local folder of an existing mount of `uri` (smb://server/share), or
    // empty when the share is not mounted.
    virtual std::string FindMount(const std::string& uri) = 0;
    // Mounts `uri`; 0 and the local folder, or an error code of the
    // connection's table (NetErrorText). The password goes to the mount
    // daemon alone and is never saved.
    virtual int Mount(const std::string& uri, const ShareCredentials& credentials,
                      std::string& localPath) = 0;
    // Unmounts `uri`; 0 or an error code of the table.
    virtual int Unmount(const std::string& uri, bool force) = 0;
    // The private folder where runs of this user note which shares they use
    // (ShareUse.h), made when missing; "" when runs cannot share that
    // knowledge (then each run unmounts what it mounted itself).
    virtual std::string UsersFolder() { return {}; }
};

// The process's GVfs mounter. `pump`, when set, is called about every 50 ms
// while a mount or unmount is waited for, so a window stays live.
ShareMounter& GvfsMounter();
void SetMountPump(std::function<void()> pump);

} // namespace duplora
