// Runs against a real Samba server through GVfs: the run pipeline (as the
// window drives it) and duplora-cli, with the share as host or as mirror.

#include "SambaServer.h"
#include "TestPaths.h"
#include "cli/CliFixture.h"
#include "platform/ShareFile.h"
#include "platform/ShareMount.h"
#include "sync/TreeFixture.h"
#include "sync/share/ShareRun.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace duplora::test {
namespace {

using Tree = std::map<std::string, std::string>;

class ShareEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("DUPLORA_SHARE_SESSION"))
            skip = "no D-Bus session of the test's own (dbus-run-session, Debian package dbus)";
        else if (::access("/dev/fuse", R_OK | W_OK) != 0)
            skip = "no /dev/fuse: GVfs cannot show a share as a folder on this machine";
        else if (::access("/usr/libexec/gvfsd-smb", X_OK) != 0 ||
                 ::access("/usr/libexec/gvfsd-fuse", X_OK) != 0)
            skip = "GVfs's smb backend or FUSE bridge is missing (gvfs-backends, gvfs-fuse)";
        else if (!server.Start(skip) && skip.empty())
            skip = "smbd did not start";
        if (!skip.empty())
            std::cout << "[  SKIPPED ] share tests: " << skip << std::endl;
    }
    void TearDown() override { server.Stop(); }

    SambaServer server;
    std::string skip;
};

ShareEnvironment* const env =
    static_cast<ShareEnvironment*>(::testing::AddGlobalTestEnvironment(new ShareEnvironment));

class ShareServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!env->skip.empty())
            GTEST_SKIP() << env->skip;
        env->server.Clear();
    }
    void TearDown() override {
        if (!env->skip.empty())
            return;
        for (const char* share : {"data", "other"}) {
            const std::string uri = "smb://" + env->server.Server() + "/" + share;
            if (!GvfsMounter().FindMount(uri).empty())
                GvfsMounter().Unmount(uri, true);
        }
    }

    static std::string Uri(const char* share = "data") {
        return "smb://" + env->server.Server() + "/" + share;
    }
    bool Mounted(const char* share = "data") {
        return !GvfsMounter().FindMount(Uri(share)).empty();
    }
    std::string Server(const char* share) const { return env->server.Folder(share); }
    // Builds a tree in the server's own folder, owned by the share's user.
    void Seed(const char* share, const std::vector<TreeFile>& files) {
        for (const TreeFile& f : files) {
            const std::string p = Server(share) + "/" + f.path;
            std::filesystem::create_directories(std::filesystem::path(p).parent_path());
            std::ofstream(p, std::ios::binary) << f.content;
            TempRoot::SetMtime(p, f.mtime);
        }
        env->server.Own(Server(share));
    }
};

// Host on the share, mirror local, run as the window runs it (not quiet):
// a copy onto the share, a replacement there and a delete there; a second
// run finds nothing to do although the share keeps whole seconds only, and
// the server holds the sources' times.
TEST_F(ShareServerTest, HostOnTheShareWindowRun) {
    RunFixture f;
    Seed("data",
         {{"keep.txt", "same", kT0}, {"d/old.txt", "old on share", kT0}, {"gone.txt", "x", kT0}});
    f.tmp.build(f.mirror, {{"keep.txt", "same", kT0},
                           {"d/old.txt", "newer in mirror", kT0 + 7201},
                           {"new/n.txt", "from mirror", kT0 + 1}});
    f.run.Task.set_host_path("//" + env->server.Server() + "/data");
    f.run.Task.set_net_user(SambaServer::kUser);
    f.run.Task.set_net_password(SambaServer::kPassword);
    f.run.Task.set_only_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_newer_in_mirror_action(SyncAction::MirrorToHost);
    f.run.Task.set_only_in_host_action(SyncAction::Delete);
    ASSERT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
    EXPECT_EQ(f.run.Plan.FailedCount, 0) << f.Text();
    EXPECT_EQ(ReadTree(Server("data")), (Tree{{"d/", ""},
                                              {"d/old.txt", "newer in mirror"},
                                              {"keep.txt", "same"},
                                              {"new/", ""},
                                              {"new/n.txt", "from mirror"}}));
    // The server keeps the sources' times, not the times the copies were closed.
    for (const auto& [rel, time] : {std::pair{"/d/old.txt", kT0 + 7201}, {"/new/n.txt", kT0 + 1}}) {
        struct stat st {};
        EXPECT_EQ(::stat((Server("data") + rel).c_str(), &st), 0) << rel;
        EXPECT_EQ(st.st_mtime, time) << rel;
    }
    EXPECT_FALSE(Mounted());
    EXPECT_TRUE(f.run.HostFoldsCase); // Samba compares names without regard to case
    EXPECT_EQ(f.ui.results, 1);
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo) << f.Text();
    EXPECT_EQ(f.Text().find(SambaServer::kPassword), std::string::npos);
}

// Mirror on the share, through the duplora-cli program a cron job would run,
// with the user written "user@DOMAIN" (a standalone server takes any domain
// for its own users).
TEST_F(ShareServerTest, MirrorOnTheShareThroughTheConsoleProgram) {
    CliFixture c;
    Seed("other", {{"b/older.txt", "old", kT0}, {"only-on-share.txt", "x", kT0}});
    c.tmp.build(c.host, {{"b/older.txt", "new", kT0 + 3600 * 3}, {"a.txt", "alpha", kT0}});
    ASSERT_EQ(
        c.Cli({"new", "Nas", "--host", c.host, "--mirror",
               "\\\\" + env->server.Server() + "\\other", "--subfolders", "on", "--only-in-host",
               "to-mirror", "--newer-in-host", "to-mirror", "--only-in-mirror", "delete",
               "--net-user", std::string(SambaServer::kUser) + "@WG", "--net-password",
               SambaServer::kPassword})
            .code,
        0);
    std::string out;
    EXPECT_EQ(
        RunProgram({DUPLORA_CLI_PATH, "--config", c.config, "--lang", "en", "run", "nas"}, out), 0)
        << out;
    EXPECT_EQ(ReadTree(Server("other")),
              (Tree{{"a.txt", "alpha"}, {"b/", ""}, {"b/older.txt", "new"}}));
    EXPECT_FALSE(Mounted("other"));

    const CliResult plan = c.Cli({"plan", "Nas"});
    EXPECT_EQ(plan.code, 0) << plan.err;
    EXPECT_TRUE(HasText(plan.out, "# to-mirror 0, to-host 0, delete-host 0, delete-mirror 0"));
    EXPECT_FALSE(Mounted("other"));
    out.clear();
    EXPECT_EQ(
        RunProgram({DUPLORA_CLI_PATH, "--config", c.config, "--lang", "en", "run", "Nas"}, out), 0);
    EXPECT_TRUE(HasText(out, "No file need to be synchronized!"));
    EXPECT_EQ(c.FileBytes(c.log).find(SambaServer::kPassword), std::string::npos);
}

// Connections that fail abandon the run before anything is read or written:
// message 108 with the reason in a window run, a failure line and exit 1
// from the console.
TEST_F(ShareServerTest, FailedConnectionsChangeNothing) {
    const int deadPort = FreeTcpPort(); // a server that is not running
    struct Case {
        std::string root;
        std::string password;
        const char* error;
    };
    const Case cases[] = {
        {"//" + env->server.Server() + "/data", "wrong-pw", "User name or password incorrect"},
        {"//" + env->server.Server() + "/nosuch", SambaServer::kPassword,
         "Network resource name is invalid or unlocatable"},
        {"//127.0.0.1:" + std::to_string(deadPort) + "/data", SambaServer::kPassword,
         "Network path not found"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.root);
        RunFixture f;
        Seed("data", {{"a.txt", "on share", kT0}});
        f.tmp.build(f.mirror, {{"b.txt", "local", kT0}});
        f.OneWay();
        f.run.Task.set_only_in_mirror_action(SyncAction::Delete);
        f.run.Task.set_host_path(k.root);
        f.run.Task.set_net_user(SambaServer::kUser);
        f.run.Task.set_net_password(k.password);
        EXPECT_EQ(f.Run(), RunOutcome::Unreachable);
        // The window's box tells a wrong password from a stopped server with
        // the console's reason.
        EXPECT_EQ(
            f.ui.messages,
            std::vector<std::string>{
                std::string("Error: Invalid net path, or Username, Password error!\nERROR: ") +
                k.error});
        EXPECT_TRUE(f.lines.Empty());
        EXPECT_EQ(ReadTree(f.mirror), (Tree{{"b.txt", "local"}}));

        CliFixture c;
        ASSERT_EQ(
            c.Cli({"new", "T", "--host", k.root, "--mirror", c.mirror, "--only-in-host",
                   "to-mirror", "--net-user", SambaServer::kUser, "--net-password", k.password})
                .code,
            0);
        const CliResult r = c.Cli({"run", "T"});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(HasText(r.err, "Invalid net path, or Username, Password error! (ERROR: " +
                                       std::string(k.error) + ")"));
        EXPECT_EQ((r.out + r.err).find(k.password), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(c.mirror));
    }
    EXPECT_EQ(ReadTree(Server("data")), (Tree{{"a.txt", "on share"}}));
    EXPECT_FALSE(Mounted());
}

// A share the user mounted before (in the file manager) is used as it is and
// stays mounted; without credentials the run relies on that mount alone.
TEST_F(ShareServerTest, AShareMountedBeforehandStaysMounted) {
    std::string path;
    ASSERT_EQ(GvfsMounter().Mount(Uri(), CredentialsFor(SambaServer::kUser, SambaServer::kPassword),
                                  path),
              0);
    for (const std::string sub : {"with", "without"}) {
        SCOPED_TRACE(sub + " credentials");
        const bool credentials = sub == "with";
        RunFixture f;
        f.tmp.build(f.host, {{"x.txt", "x", kT0}});
        f.OneWay();
        f.run.Task.set_mirror_path("smb://" + env->server.Server() + "/data/" + sub);
        f.run.Task.set_net_user(credentials ? SambaServer::kUser : "");
        f.run.Task.set_net_password(credentials ? SambaServer::kPassword : "");
        EXPECT_EQ(f.Run(), RunOutcome::Finished) << f.Text();
        EXPECT_EQ(ReadTree(Server("data") + "/" + sub), (Tree{{"x.txt", "x"}}));
        EXPECT_TRUE(Mounted());
    }
}

// Small copies onto the share go to its daemon directly, bypassing the FUSE
// bridge: neither the creation of a temporary file nor a rename that must not
// replace may ever take a name that is there on the server.
TEST_F(ShareServerTest, DirectWritesNeverTakeAnExistingName) {
    Seed("data", {{"there.txt", "server's own", kT0}});
    std::string mount;
    ASSERT_EQ(GvfsMounter().Mount(Uri(), CredentialsFor(SambaServer::kUser, SambaServer::kPassword),
                                  mount),
              0);
    EXPECT_TRUE(ReachesShareDirectly(mount));
    EXPECT_FALSE(ReachesShareDirectly(::testing::TempDir()));
    std::string error;
    const timespec t{kT0 + 61, 0};
    EXPECT_EQ(WriteShareFile(mount + "/there.txt", "new", t, error), ShareWrite::Exists);
    ASSERT_EQ(WriteShareFile(mount + "/.tmp", "new", t, error), ShareWrite::Done) << error;
    EXPECT_EQ(MoveShareFile(mount + "/.tmp", mount + "/there.txt", false, error),
              ShareMove::Exists);
    EXPECT_EQ(ReadTree(Server("data")), (Tree{{".tmp", "new"}, {"there.txt", "server's own"}}));
    ASSERT_EQ(MoveShareFile(mount + "/.tmp", mount + "/there.txt", true, error), ShareMove::Done)
        << error;
    EXPECT_EQ(ReadTree(Server("data")), (Tree{{"there.txt", "new"}}));
    struct stat st {};
    ASSERT_EQ(::stat((Server("data") + "/there.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, kT0 + 61);
}

} // namespace
} // namespace duplora::test

namespace duplora::test {
namespace {

// Two runs on one share, each with the task's credentials: the run that
// mounted it ends first, and the share stays mounted for the other, also
// through a console run in another process that ends meanwhile; the last run
// out unmounts it.
TEST_F(ShareServerTest, AShareStaysMountedWhileAnyRunUsesIt) {
    Seed("data", {{"a.txt", "a", kT0}});
    RunFixture first, second;
    auto connect = [&](RunFixture& f, ShareConnector& shares) {
        f.run.HostRoot = "//" + env->server.Server() + "/data";
        f.run.MirrorRoot = f.mirror;
        f.run.Task.set_net_user(SambaServer::kUser);
        f.run.Task.set_net_password(SambaServer::kPassword);
        return shares.ConnectForRun(f.run);
    };
    ShareConnector a, b;
    ASSERT_TRUE(connect(first, a)) << a.Error();
    EXPECT_TRUE(a.NetCon.MountedByUs());
    ASSERT_TRUE(connect(second, b)) << b.Error();
    EXPECT_FALSE(b.NetCon.MountedByUs());
    EXPECT_EQ(a.DisconnectAfterRun(), "");
    ASSERT_TRUE(Mounted()) << "unmounted under the second run";
    EXPECT_EQ(ReadTree(second.run.HostRoot), (Tree{{"a.txt", "a"}}));

    CliFixture c;
    ASSERT_EQ(c.Cli({"new", "Nas", "--host", "//" + env->server.Server() + "/data", "--mirror",
                     c.mirror, "--only-in-host", "to-mirror", "--net-user", SambaServer::kUser,
                     "--net-password", SambaServer::kPassword})
                  .code,
              0);
    std::string out;
    EXPECT_EQ(
        RunProgram({DUPLORA_CLI_PATH, "--config", c.config, "--lang", "en", "run", "Nas"}, out), 0)
        << out;
    EXPECT_EQ(ReadTree(c.mirror), (Tree{{"a.txt", "a"}}));
    ASSERT_TRUE(Mounted()) << "the console run unmounted it under the second run";
    EXPECT_EQ(ReadTree(second.run.HostRoot), (Tree{{"a.txt", "a"}}));

    EXPECT_EQ(b.DisconnectAfterRun(), "");
    EXPECT_FALSE(Mounted()) << "the last run out leaves what a run mounted";
}

// Under a D-Bus session of its own (the cron recipe), the share daemons that
// the bus would start write to the command's standard output; the JSON of
// `run --json` must be all there is.
TEST_F(ShareServerTest, OnlyOurOwnOutputReachesStandardOutput) {
    Seed("data", {{"a.txt", "a", kT0}});
    CliFixture c;
    ASSERT_EQ(c.Cli({"new", "Nas", "--host", "//" + env->server.Server() + "/data", "--mirror",
                     c.mirror, "--only-in-host", "to-mirror", "--net-user", SambaServer::kUser,
                     "--net-password", SambaServer::kPassword})
                  .code,
              0);
    std::string runtime = c.tmp.sub("xdg");
    ASSERT_TRUE(std::filesystem::create_directory(runtime));
    ::chmod(runtime.c_str(), 0700);
    const std::string command = "exec env XDG_RUNTIME_DIR='" + runtime + "' dbus-run-session -- '" +
                                DUPLORA_CLI_PATH + "' --config '" + c.config +
                                "' --lang en run --json Nas 2>/dev/null";
    std::string out;
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", command}, out), 0) << out;
    const std::vector<std::string> lines = CliFixture::Lines(out);
    ASSERT_EQ(lines.size(), 1u) << out;
    EXPECT_EQ(lines[0].front(), '{') << out;
    EXPECT_NE(lines[0].find("\"task\":\"Nas\""), std::string::npos) << out;
    EXPECT_EQ(ReadTree(c.mirror), (Tree{{"a.txt", "a"}}));
    // The session's FUSE folder goes a moment after the session; one whose
    // daemon has already gone answers ECONNABORTED or ENOTCONN until it is
    // unmounted, which a lazy unmount does at once.
    const std::string fuse = runtime + "/gvfs";
    for (int i = 0; i < 100; ++i) {
        std::error_code ec;
        if (!std::filesystem::exists(fuse, ec) && !ec)
            break;
        if (ec)
            ::umount2(fuse.c_str(), MNT_DETACH);
        std::filesystem::remove_all(runtime, ec);
        if (ec)
            ::usleep(50000);
    }
}

} // namespace
} // namespace duplora::test
