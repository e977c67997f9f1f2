#pragma once
// A real Samba server for the share tests: smbd from Debian's samba package
// on 127.0.0.1 and a free port, with its own configuration, state folders
// and one user, all below a temporary folder; started in its own session
// (setsid) and stopped by its process id.

#include <sys/types.h>

#include <string>
#include <vector>

namespace duplora::test {

class SambaServer {
public:
    SambaServer() = default;
    ~SambaServer();
    SambaServer(const SambaServer&) = delete;
    SambaServer& operator=(const SambaServer&) = delete;

    // False, with the reason, when this machine cannot run one.
    bool Start(std::string& reason);
    void Stop();
    bool Running() const { return pid_ > 0; }

    // "127.0.0.1:<port>", as a share path's server part.
    std::string Server() const;
    int Port() const { return port_; }
    // The server's own folder behind share "data" or "other".
    std::string Folder(const std::string& share) const;
    // Hands everything below `path` to the share's user, so that files a test
    // made as root can be replaced and deleted through the share.
    void Own(const std::string& path) const;
    // Empties both shares' folders.
    void Clear() const;

    static constexpr const char* kUser = "duplorasmb";
    static constexpr const char* kPassword = "Sm8-test-pw";

private:
    std::string root_;
    int port_ = 0;
    pid_t pid_ = -1;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int FreeTcpPort();

// Runs `argv` (no shell) with `input` on its stdin; returns its exit code
// and puts stdout and stderr together into `output`.
int RunProgram(const std::vector<std::string>& argv, std::string& output,
               const std::string& input = "");

} // namespace duplora::test
