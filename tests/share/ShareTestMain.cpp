// The share tests run inside a D-Bus session of their own, with their own
// XDG_RUNTIME_DIR, so that the GVfs daemons (and their FUSE folder) start
// for this test alone and go with it. main() re-runs the program under
// dbus-run-session when it is not inside such a session yet.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list", 12) == 0;
    if (!listing && !std::getenv("DUPLORA_SHARE_SESSION") &&
        ::access("/usr/bin/dbus-run-session", X_OK) == 0) {
        std::string xdg = (std::filesystem::temp_directory_path() / "duplora-xdg-XXXXXX").string();
        if (::mkdtemp(xdg.data())) {
            ::setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
            ::setenv("DUPLORA_SHARE_SESSION", xdg.c_str(), 1);
            // No disk or phone volume monitors: only the mounts matter here.
            ::setenv("GVFS_REMOTE_VOLUME_MONITOR_IGNORE", "1", 1);
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
            std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
            for (int i = 0; i < argc; ++i)
                args.push_back(argv[i]);
            args.push_back(nullptr);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::execv("/usr/bin/dbus-run-session", args.data());
                ::_exit(127);
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            // GVfs's FUSE bridge leaves its folder a moment after the session.
            for (int i = 0; i < 100 && std::filesystem::exists(xdg); ++i) {
                std::error_code ec;
                std::filesystem::remove_all(xdg, ec);
                if (ec)
                    ::usleep(50000);
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
