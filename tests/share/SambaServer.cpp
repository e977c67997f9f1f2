#include "SambaServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace duplora::test {

namespace fs = std::filesystem;

namespace {} // namespace

int FreeTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

namespace {

bool Listening(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

} // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& output,
               const std::string& input) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0)
        output += "(stdin not written)";
    ::close(in[1]);
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        output.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SambaServer::~SambaServer() {
    Stop();
    if (!root_.empty()) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

std::string SambaServer::Server() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string SambaServer::Folder(const std::string& share) const {
    return root_ + "/" + share;
}

void SambaServer::Own(const std::string& path) const {
    ::lchown(path.c_str(), uid_, gid_);
    if (!fs::is_directory(fs::symlink_status(path)))
        return;
    for (const auto& e : fs::recursive_directory_iterator(path))
        ::lchown(e.path().c_str(), uid_, gid_);
}

void SambaServer::Clear() const {
    for (const char* share : {"data", "other"})
        for (const auto& e : fs::directory_iterator(Folder(share)))
            fs::remove_all(e.path());
}

bool SambaServer::Start(std::string& reason) {
    if (::geteuid() != 0) {
        reason = "the share tests need root (a system user for the share, smbd's own files)";
        return false;
    }
    if (::access("/usr/sbin/smbd", X_OK) != 0 || ::access("/usr/bin/smbpasswd", X_OK) != 0) {
        reason = "smbd is not installed (Debian package samba; scripts/install-deps.sh)";
        return false;
    }
    std::string out;
    if (!::getpwnam(kUser) &&
        RunProgram({"useradd", "-M", "-s", "/usr/sbin/nologin", kUser}, out) != 0) {
        reason = "cannot create the share's user: " + out;
        return false;
    }
    const passwd* pw = ::getpwnam(kUser);
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;

    std::string tmpl = (fs::temp_directory_path() / "duplora-smb-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        reason = "no temporary folder";
        return false;
    }
    root_ = tmpl;
    // The share's user must be able to walk down to its folders.
    ::chmod(root_.c_str(), 0755);
    for (const char* d : {"data", "other", "priv", "state", "lock", "cache", "pid", "ncalrpc"})
        fs::create_directories(root_ + "/" + d);
    Own(Folder("data"));
    Own(Folder("other"));
    port_ = FreeTcpPort();
    const std::string conf = root_ + "/smb.conf";
    std::ofstream(conf) << "[global]\n"
                        << "  server role = standalone server\n"
                        << "  interfaces = lo\n  bind interfaces only = yes\n"
                        << "  smb ports = " << port_ << "\n"
                        << "  disable netbios = yes\n"
                        << "  private dir = " << root_ << "/priv\n"
                        << "  state directory = " << root_ << "/state\n"
                        << "  lock directory = " << root_ << "/lock\n"
                        << "  cache directory = " << root_ << "/cache\n"
                        << "  pid directory = " << root_ << "/pid\n"
                        << "  ncalrpc dir = " << root_ << "/ncalrpc\n"
                        << "  passdb backend = tdbsam:" << root_ << "/priv/passdb.tdb\n"
                        << "  log file = " << root_ << "/smbd.log\n"
                        << "  map to guest = never\n"
                        << "  load printers = no\n  disable spoolss = yes\n"
                        << "[data]\n  path = " << Folder("data")
                        << "\n  read only = no\n  valid users = " << kUser << "\n"
                        << "[other]\n  path = " << Folder("other")
                        << "\n  read only = no\n  valid users = " << kUser << "\n";
    const std::string pw2 = std::string(kPassword) + "\n" + kPassword + "\n";
    out.clear();
    if (RunProgram({"smbpasswd", "-c", conf, "-s", "-a", kUser}, out, pw2) != 0) {
        reason = "smbpasswd failed: " + out;
        return false;
    }
    const std::string log = root_ + "/smbd.out";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setsid();
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl("/usr/sbin/smbd", "smbd", "--foreground", "--no-process-group", "-s", conf.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !Listening(port_); ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            reason = "smbd ended at once; see its output in " + log;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!Listening(port_)) {
        Stop();
        reason = "smbd did not listen on port " + std::to_string(port_);
        return false;
    }
    return true;
}

void SambaServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        gone = ::waitpid(pid_, &status, WNOHANG) == pid_;
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!gone) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    // smbd's helpers live in the session setsid gave it, whose group id is
    // the server's own process id.
    ::kill(-pid_, SIGKILL);
    pid_ = -1;
}

} // namespace duplora::test
