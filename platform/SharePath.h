#pragma once
// Network-share roots. A task's folder may name an SMB share in three forms:
//
//   //server/share/dir       the native form
//   \\server\share\dir       as older configurations hold it (every '\' of
//                            such a root separates; it is no name character)
//   smb://server/share/dir   as the file manager shows it (%XX escapes)
//
// `server` may carry a port ("nas:4455") or be a bracketed IPv6 address. The
// run never uses such a text as a local path (on Linux "//server/share" is
// the local folder /server/share): it goes through the share's mount.

#include <string>

namespace duplora {

struct SharePath {
    std::string server; // host name or address, with ":port" when one is given
    std::string share;
    std::string rest; // below the share, '/'-separated, no '/' at either end

    // "//server/share": the connection's RemoteName.
    std::string RemoteName() const;
    // "smb://server/share", escaped for GIO.
    std::string Uri() const;
    // `mountPath` plus the rest.
    std::string LocalPath(const std::string& mountPath) const;
};

enum class ShareForm {
    NotShare, // an ordinary local path
    Share,
    Invalid, // looks like a share but names none: no server or share, a user
             // in the address, or a "." / ".." step that would leave the share
};

ShareForm ParseSharePath(const std::string& root, SharePath& out);

// Same server and share (server names and share names compare without regard
// to ASCII case, as SMB does).
bool SameShare(const SharePath& a, const SharePath& b);

} // namespace duplora
