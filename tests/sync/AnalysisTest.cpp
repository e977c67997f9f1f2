#include "sync/compare/Analysis.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

using namespace duplora;
using namespace duplora::test;

namespace {
TaskRecord WithFolders(const std::string& lines, bool include) {
    TaskRecord t = TaskRecord::MakeNew("");
    t.set_folder_list(lines);
    t.set_only_include_folders(include);
    return t;
}
} // namespace

TEST(FolderFilter, ExcludeModeSkipsExactlyTheListedFolders) {
    const FolderFilter f(WithFolders("/Docs\r\n/a/b\r\n/trail/\r\nnoslash\r\n", false), false);
    EXPECT_EQ(f.Ask("/Docs"), soSkip);
    EXPECT_EQ(f.Ask("/a/b"), soSkip);
    EXPECT_EQ(f.Ask("/trail"), soSkip);
    EXPECT_EQ(f.Ask("/noslash"), soSkip);
    EXPECT_EQ(f.Ask("/docs"), soContinue); // case counts on a case-sensitive file system
    EXPECT_EQ(f.Ask("/Docs2"), soContinue);
    EXPECT_EQ(f.Ask("/a"), soContinue);
    const FolderFilter folded(WithFolders("/Docs\r\n", false), true);
    EXPECT_EQ(folded.Ask("/DOCS"), soSkip);
}

TEST(FolderFilter, IncludeModeScansListedFoldersAndTheirInsides) {
    const FolderFilter f(WithFolders("/Docs\r\n/x/deep\r\n", true), false);
    EXPECT_EQ(f.Ask("/Docs"), soContinue);
    EXPECT_EQ(f.Ask("/Docs/Old"), soContinue);
    EXPECT_EQ(f.Ask("/Docs/Old/older"), soContinue);
    EXPECT_EQ(f.Ask("/Other"), soSkip);
    EXPECT_EQ(f.Ask("/Docsx"), soSkip);
    // A mere ancestor of a listed folder is skipped, so the deeper line has no
    // effect on its own.
    EXPECT_EQ(f.Ask("/x"), soSkip);
    EXPECT_EQ(f.Ask("/x/deep"), soContinue);
    const FolderFilter none(WithFolders("", true), false);
    EXPECT_EQ(none.Ask("/anything"), soSkip);
}

TEST(FolderFilter, RecycleFolderNames) {
    EXPECT_TRUE(IsRecycleFolderName("RECYCLER"));
    EXPECT_TRUE(IsRecycleFolderName("Recycled"));
    EXPECT_TRUE(IsRecycleFolderName("recycler"));
    EXPECT_FALSE(IsRecycleFolderName("RECYCLE"));
    EXPECT_FALSE(IsRecycleFolderName("RECYCLERS"));
    EXPECT_FALSE(IsRecycleFolderName("$RECYCLE.BIN"));
}

TEST(ListedFileNames, PlainNamesOnly) {
    TaskRecord t = TaskRecord::MakeNew("");
    t.set_folder_list("report.doc\r\n\r\n.\r\n..\r\n../etc/passwd\r\nsub/x\r\n/abs\r\n"
                      "my file.txt\r\nreport.doc\r\n");
    EXPECT_EQ(ListedFileNames(t), (std::vector<std::string>{"report.doc", "my file.txt"}));
}

TEST(IsCopyTempName, OnlyTheCopiersLeftovers) {
    const std::pair<const char*, bool> cases[] = {
        {".report.doc.duplora-tmp-a1B2c3D4", true},
        {".x.duplora-tmp-ZZZZZZZZ", true},
        {"report.doc.duplora-tmp-a1B2c3D4", false}, // no leading dot
        {".report.duplora-tmp-a1B2c3D", false},     // seven characters
        {".report.duplora-tmp-a1B2c3D4e", false},   // nine
        {".report.duplora-tmp-a1B2c3D!", false},
        {".duplora-tmp-abcdefgh", false}, // no name before the marker
        // A user's own names that merely look alike are synchronised.
        {".notes.duplora-backup", false},
        {".a.duplora-123456", false},
        {".report.doc.duplora-a1B2c3", false},
        {".bashrc", false},
    };
    for (const auto& [name, temp] : cases)
        EXPECT_EQ(IsCopyTempName(name), temp) << name;
}
