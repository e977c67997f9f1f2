// The two sides scanned at once, and either with folders read ahead, give the
// plan of one side after the other: the same bytes from plan --json, for a
// tree of odd cases.

#include "cli/CliFixture.h"
#include "sync/UnreadableIo.h"

#include <cstdlib>
#include <filesystem>

namespace duplora::test {
namespace {

// `ahead`: threads reading folders ahead of each side's walk.
CliResult PlanJson(const CliFixture& f, bool serial, const char* ahead = "0") {
    if (serial)
        setenv("DUPLORA_SERIAL_SCAN", "1", 1);
    else
        unsetenv("DUPLORA_SERIAL_SCAN");
    setenv("DUPLORA_SCAN_AHEAD", ahead, 1);
    CliResult r = f.Cli({"plan", "t", "--json"});
    unsetenv("DUPLORA_SERIAL_SCAN");
    unsetenv("DUPLORA_SCAN_AHEAD");
    return r;
}

TEST(ScanAtOnce, PlanJsonIsTheSerialScansByteForByte) {
    struct Case {
        const char* name;
        std::vector<std::string> settings;
    };
    const Case cases[] = {
        {"exclude folders, ignore and delete masks",
         {"--only-in-host", "to-mirror", "--only-in-mirror", "to-host", "--newer-in-host",
          "to-mirror", "--empty-folders", "to-host", "--exclude-folders", "--folder", "/skip",
          "--ignore-masks", "*.tmp", "--delete-masks", "*.bak"}},
        {"include folders, only masks, deletes",
         {"--only-in-host", "to-mirror", "--only-in-mirror", "delete", "--empty-folders", "delete",
          "--include-folders", "--folder", "/d", "--folder", "/locked", "--folder", "/mlocked",
          "--only-masks", "*.txt;*.bak"}},
        {"everything, empty folders to the mirror",
         {"--only-in-host", "to-mirror", "--only-in-mirror", "to-host", "--empty-folders",
          "to-mirror", "--delete-masks", "*.bak"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliFixture f;
        f.tmp.build(f.host, {{"a.txt", "new", kT0 + 7200},
                             {"Case.txt", "1"},
                             {"case.txt", "22"},
                             {"d/b.txt", "b"},
                             {"d/e/deep/f.txt", "f"},
                             {"skip/x.txt", "x"},
                             {"keep.tmp", "t"},
                             {"drop.bak", "b"},
                             {"empty/"},
                             {"locked/in.txt", "i"},
                             {"locked/sub/"}});
        f.tmp.build(f.mirror, {{"a.txt", "old"},
                               {"CASE.txt", "3"},
                               {"m-only.txt", "m"},
                               {"old.bak", "o"},
                               {"skip/y.txt", "y"},
                               {"locked/in.txt", "i"},
                               {"locked/only-here.txt", "h"},
                               {"locked/quiet.bak", "q"},
                               {"locked/empty-m/"},
                               {"mlocked/z.txt", "z"},
                               {"empty-m/"},
                               {"d/e/deep/g.txt", "g"}});
        namespace fs = std::filesystem;
        fs::create_symlink("a.txt", f.host + "/link-to-file");
        fs::create_symlink("d", f.host + "/link-to-folder");
        fs::create_symlink("gone", f.mirror + "/dangling");
        std::vector<std::string> args = {"new",      "t",      "--host",       f.host,
                                         "--mirror", f.mirror, "--subfolders", "on"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        const CliResult made = f.Cli(args);
        ASSERT_EQ(made.code, 0) << made.err;

        ScopedFileIo io(UnreadableAll({"/host/locked", "/mirror/mlocked"}));
        const CliResult serial = PlanJson(f, true);
        const CliResult parallel = PlanJson(f, false);
        ASSERT_EQ(serial.code, 0) << serial.err;
        EXPECT_EQ(parallel.code, serial.code) << parallel.err;
        EXPECT_EQ(parallel.out, serial.out);
        for (const char* ahead : {"1", "4"}) {
            SCOPED_TRACE(ahead);
            EXPECT_EQ(PlanJson(f, false, ahead).out, serial.out);
            EXPECT_EQ(PlanJson(f, true, ahead).out, serial.out);
        }
        // A plan with work in it, and nothing below the host's unreadable
        // folder taken for "only in the mirror".
        EXPECT_TRUE(HasText(serial.out, "\"to-mirror\""));
        EXPECT_EQ(serial.out.find("only-here"), std::string::npos) << serial.out;
    }
}

} // namespace
} // namespace duplora::test
