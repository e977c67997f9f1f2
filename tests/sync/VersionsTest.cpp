#include "sync/setaside/Versions.h"

#include "TreeFixture.h"
#include "tasks/TextTable.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace duplora;
using namespace duplora::test;

// Which folders a Versions task may use, on real folders: H and M are the
// roots, "out" a folder beside them, "lnk" a link in the host to outside.
TEST(VersionsFolder, RefusesEveryWayOutOfItsSide) {
    SetLanguage(Language::English);
    TempRoot t;
    t.build(t.sub("H"), {{"sub/"}, {"file", "x"}});
    t.build(t.sub("M"), {{"sub/"}});
    t.build(t.sub("out"), {{"x/"}});
    ASSERT_EQ(::symlink(t.sub("out").c_str(), t.sub("H/lnk").c_str()), 0);
    ASSERT_EQ(::symlink(t.sub("M").c_str(), t.sub("out/toM").c_str()), 0);
    const std::string H = t.sub("H"), M = t.sub("M");
    struct Case {
        std::string folder;
        int text; // 0: usable
    } cases[] = {
        {"versions", 0},
        {"sub/deeper/v", 0},
        {"./versions/", 0},
        {t.sub("out/v"), 0},
        {t.sub("out") + "/", 0},
        {"", 200},
        {".", 201},
        {H, 201},
        {M + "/", 201},
        {t.sub("out/toM"), 201}, // a link to the mirror is the mirror
        {H + "/v", 202},
        {t.sub("out/toM/v"), 202},
        {t.path().string(), 203},
        {"/", 203},
        {"../v", 204},
        {"a/../../v", 204},
        {t.sub("out/../H/v"), 204},
        {"lnk", 205},
        {"lnk/v", 205},
        {"file/v", 205},
    };
    for (const Case& c : cases) {
        const std::string problem = VersionsFolderProblem(c.folder, H, M);
        if (c.text == 0) {
            EXPECT_EQ(problem, "") << c.folder;
        } else {
            // The message is the text with the folder named, as typed.
            const std::string head = Msg(c.text).substr(0, Msg(c.text).find("%1"));
            EXPECT_EQ(problem.rfind(head, 0), 0u) << c.folder << ": " << problem;
            if (c.text != 200) {
                EXPECT_NE(problem.find(c.folder), std::string::npos) << problem;
            }
        }
    }

    // Nested roots: a relative folder of the host can land in the mirror.
    EXPECT_NE(VersionsFolderProblem("sub", H, H + "/sub"), "");

    // The task form asks only in Versions mode, with the roots as a run has them.
    TaskRecord task = TaskRecord::MakeForLoading();
    task.set_host_path(H + "/");
    task.set_mirror_path(M);
    task.set_versions_folder("..");
    EXPECT_EQ(VersionsFolderProblem(task), "");
    task.set_on_delete(DeleteMode::Versions);
    EXPECT_EQ(VersionsFolderProblem(task), MsgFill(204, ".."));
    task.set_versions_folder("v");
    EXPECT_EQ(VersionsFolderProblem(task), "");

    const VersionsPlace rel = ResolveVersionsFolder("./v//w/", H, M + "/");
    EXPECT_TRUE(rel.Relative);
    EXPECT_EQ(rel.Host, H + "/v/w");
    EXPECT_EQ(rel.Mirror, M + "/v/w");
    const VersionsPlace abs = ResolveVersionsFolder("/keep/", H, M);
    EXPECT_FALSE(abs.Relative);
    EXPECT_EQ(abs.Host, "/keep");
    EXPECT_EQ(abs.Mirror, "/keep");
}
