#pragma once
// The connection's error codes and their texts. The codes are those of the
// Windows network calls, which stored habits, logs and users know; the GVfs
// failures are mapped onto the nearest of them.

#include <string>

namespace duplora {

enum NetError : int {
    kNetAccessDenied = 5,
    kNetPathNotFound = 53, // server unreachable, refused, unknown
    kNetDeviceTypeMismatch = 66,
    kNetBadName = 67,      // no such share, or a name that is none
    kNetNotStarted = 1203, // no GVfs (no session bus, no smb backend)
    kNetSpecificError = 1208,
    kNetNoNetwork = 1222,
    kNetCancelled = 1223,
    kNetBadCredentials = 1326, // the server asked for the password again
    kNetNotConnected = 2250,
    kNetDeviceInUse = 2404,
};

// A GIO failure that matches none of the table keeps its own code, moved
// into the range Windows leaves to applications (bit 29), so it cannot be
// mistaken for a code of the table.
constexpr int kNetUnmappedBase = 0x20000000;

// The text for `code`; a code outside the table gives "<code>: Unhandled Error".
std::string NetErrorText(int code);

} // namespace duplora
