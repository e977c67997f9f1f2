#include "sync/share/ShareRun.h"

#include "platform/ShareMount.h"
#include "sync/TreeFixture.h"
#include "sync/run/RunGate.h"

#include <gtest/gtest.h>

#include <map>

namespace duplora {
namespace {

using test::RunFixture;

// Shares as folders of the test's root: "mounting" one makes its folder.
class FakeMounter : public ShareMounter {
public:
    explicit FakeMounter(std::string base) : base_(std::move(base)) {}
    std::string FindMount(const std::string& uri) override {
        auto it = mounted.find(uri);
        return it == mounted.end() ? "" : it->second;
    }
    int Mount(const std::string& uri, const ShareCredentials& c, std::string& path) override {
        calls.push_back("mount " + uri + " " + c.user + "/" + c.password);
        if (failWith != 0)
            return failWith;
        path = base_ + "/" + std::to_string(mounted.size());
        std::filesystem::create_directories(path);
        mounted[uri] = path;
        return 0;
    }
    int Unmount(const std::string& uri, bool force) override {
        calls.push_back(std::string(force ? "force-unmount " : "unmount ") + uri);
        mounted.erase(uri);
        return 0;
    }
    std::map<std::string, std::string> mounted;
    std::vector<std::string> calls;
    int failWith = 0;

private:
    std::string base_;
};

struct ShareRunTest : ::testing::Test {
    RunFixture f;
    FakeMounter mounter{f.tmp.sub("mounts")};
    ShareConnector shares{&mounter};

    bool Connect(const std::string& host, const std::string& mirror, const std::string& user,
                 const std::string& password) {
        f.run.HostRoot = host;
        f.run.MirrorRoot = mirror;
        f.run.Task.set_net_user(user);
        f.run.Task.set_net_password(password);
        return shares.ConnectForRun(f.run);
    }
};

TEST_F(ShareRunTest, ConnectsTheHostShareFirstAndMapsBothRoots) {
    const std::string local = f.tmp.sub("local");
    struct Case {
        const char* host;
        const char* mirror;
        const char* user;
        const char* password;
        std::vector<std::string> calls; // up to the end of the run
    };
    const Case cases[] = {
        {"//srv/data",
         "LOCAL",
         "bob",
         "pw",
         {"mount smb://srv/data bob/pw", "force-unmount smb://srv/data"}},
        {"LOCAL",
         "\\\\srv\\bak\\2024\\x",
         "bob",
         "pw",
         {"mount smb://srv/bak bob/pw", "force-unmount smb://srv/bak"}},
        // A password alone is enough.
        {"smb://srv/data",
         "LOCAL",
         "",
         "pw",
         {"mount smb://srv/data /pw", "force-unmount smb://srv/data"}},
        // Credentials but no share: nothing to connect.
        {"LOCAL", "LOCAL", "bob", "pw", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + c.mirror);
        mounter.calls.clear();
        auto root = [&](const char* r) { return std::string(r) == "LOCAL" ? local : r; };
        ASSERT_TRUE(Connect(root(c.host), root(c.mirror), c.user, c.password));
        for (const std::string& r : {f.run.HostRoot, f.run.MirrorRoot})
            EXPECT_TRUE(r == local || r.rfind(f.tmp.sub("mounts"), 0) == 0) << r;
        EXPECT_EQ(shares.DisconnectAfterRun(), "");
        EXPECT_EQ(mounter.calls, c.calls);
        EXPECT_FALSE(shares.Connected());
    }
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST_F(ShareRunTest, BothRootsSharesOnlyTheHostsIsConnected) {
    mounter.mounted["smb://srv/bak"] = f.tmp.sub("premounted");
    ASSERT_TRUE(Connect("//srv/data/a", "//srv/bak/b", "bob", "pw"));
    EXPECT_EQ(f.run.HostRoot, mounter.mounted["smb://srv/data"] + "/a");
    EXPECT_EQ(f.run.MirrorRoot, f.tmp.sub("premounted") + "/b");
    shares.DisconnectAfterRun();
    // The share mounted before the run stays mounted.
    EXPECT_EQ(mounter.calls, (std::vector<std::string>{"mount smb://srv/data bob/pw",
                                                       "force-unmount smb://srv/data"}));
    EXPECT_EQ(mounter.mounted.count("smb://srv/bak"), 1u);
}

TEST_F(ShareRunTest, WithoutCredentialsAnExistingMountIsUsedAndKept) {
    mounter.mounted["smb://srv/data"] = f.tmp.sub("premounted");
    ASSERT_TRUE(Connect("//srv/data/x", f.tmp.sub("local"), "", ""));
    EXPECT_EQ(f.run.HostRoot, f.tmp.sub("premounted") + "/x");
    EXPECT_FALSE(shares.Connected());
    // With credentials the same mount is taken over, and still kept.
    ASSERT_TRUE(Connect("//srv/data/x", f.tmp.sub("local"), "bob", "pw"));
    EXPECT_TRUE(shares.Connected());
    shares.DisconnectAfterRun();
    EXPECT_TRUE(mounter.calls.empty());
    EXPECT_EQ(mounter.mounted.size(), 1u);
}

TEST_F(ShareRunTest, AShareThatCannotBeReachedAbandonsTheRun) {
    struct Case {
        const char* host;
        const char* user;
        int mountError;
        bool autoMode;
        bool commandLine;
        int code;
        bool boxShown;
    };
    const Case cases[] = {
        {"//srv/data", "bob", kNetBadCredentials, false, false, 1326, true},
        {"//srv/data", "bob", kNetBadName, true, false, 67, false},
        {"//srv/data", "bob", kNetPathNotFound, false, true, 53, false},
        // No credentials and no mount: the text must never be taken as the
        // local folder /srv/data.
        {"//srv/data", "", 0, false, false, 53, true},
        {"//srv/../etc", "bob", 0, false, false, 67, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code));
        f.ui.messages.clear();
        mounter.failWith = c.mountError;
        f.run.Start = c.commandLine ? RunStart::CommandLine : RunStart::Window;
        f.run.Task.set_auto_mode(c.autoMode);
        EXPECT_FALSE(Connect(c.host, f.tmp.sub("local"), c.user, c.user[0] ? "secret" : ""));
        EXPECT_EQ(shares.ErrorCode(), c.code);
        EXPECT_EQ(shares.Error(), "ERROR: " + NetErrorText(c.code));
        EXPECT_EQ(f.run.Outcome, RunOutcome::Unreachable);
        // The box names the reason after the message: a wrong password and
        // a server that does not answer read apart, as in the console.
        EXPECT_EQ(f.ui.messages,
                  c.boxShown ? std::vector<std::string>{"Error: Invalid net path, or Username, "
                                                        "Password error!\nERROR: " +
                                                        NetErrorText(c.code)}
                             : std::vector<std::string>{});
        EXPECT_FALSE(shares.Connected());
        EXPECT_TRUE(mounter.mounted.empty());
    }
}

// Lines written during a run name a share's files as the task names the
// share, not under the mount's local path; after the run nothing is renamed.
TEST_F(ShareRunTest, LinesShowSharePathsAsTyped) {
    const std::string local = f.tmp.sub("local");
    ASSERT_TRUE(Connect(local, "smb://srv/data/photos", "bob", "pw"));
    const std::string mount = f.run.MirrorRoot;
    EXPECT_EQ(f.run.ShownMirrorRoot(), "smb://srv/data/photos");
    EXPECT_EQ(f.run.ShownHostRoot(), local);
    const struct {
        std::string written;
        std::string shown;
    } cases[] = {
        {"Failed to copy, path: " + mount + "/a/b.jpg",
         "Failed to copy, path: smb://srv/data/photos/a/b.jpg"},
        {mount + " <=> " + local, "smb://srv/data/photos <=> " + local},
        {mount + "2/other", mount + "2/other"}, // another folder that starts alike
        {local + "/x", local + "/x"},
    };
    for (const auto& c : cases) {
        f.lines.Append(c.written);
        EXPECT_EQ(f.lines.Lines().back(), c.shown);
    }
    LeaveGate(f.run, shares);
    f.lines.Append(mount + "/after");
    EXPECT_EQ(f.lines.Lines().back(), mount + "/after");
}

// The whole run through RunSteps: the copy lands in the share's folder and
// the share is unmounted afterwards, also when the run found nothing to do.
TEST_F(ShareRunTest, RunStepsConnectsAndDisconnects) {
    f.tmp.build(f.host, {{"a.txt", "alpha"}});
    f.OneWay();
    f.run.Task.set_mirror_path("//srv/data");
    f.run.Task.set_net_user("bob");
    f.run.Task.set_net_password("s3cretPw");
    f.shares = &shares;
    EXPECT_EQ(f.Run(), RunOutcome::Finished);
    EXPECT_EQ(test::ReadTree(f.tmp.sub("mounts") + "/0"),
              (std::map<std::string, std::string>{{"a.txt", "alpha"}}));
    EXPECT_TRUE(mounter.mounted.empty());
    EXPECT_EQ(f.Run(), RunOutcome::NothingToDo);
    EXPECT_TRUE(mounter.mounted.empty());
    EXPECT_EQ(f.Text().find("s3cretPw"), std::string::npos);
}

} // namespace
} // namespace duplora
