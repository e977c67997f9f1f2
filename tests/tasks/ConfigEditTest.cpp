#include "tasks/ConfigEdit.h"

#include "tasks/ConfigTestSupport.h"

#include <gtest/gtest.h>

using namespace duplora;
using duplora::testing::TempFolder;

namespace {

EditStatus AddTask(const std::string& path, const std::string& name) {
    std::string error;
    return EditConfiguration(
        path,
        [&](TaskList& list) {
            list.append(name, TaskRecord::MakeNew("d"));
            return true;
        },
        error);
}

} // namespace

TEST(ConfigEdit, EditsReadAfreshAndADeclinedEditWritesNothing) {
    TempFolder dir;
    const std::string path = dir.file("Duplora.cfg");
    EXPECT_EQ(AddTask(path, "A"), EditStatus::Saved);
    EXPECT_EQ(AddTask(path, "B"), EditStatus::Saved);
    std::string error;
    const ConfigStamp before = StampOf(path);
    EXPECT_EQ(EditConfiguration(
                  path, [](TaskList& list) { return list.size() == 99; }, error),
              EditStatus::NotChanged);
    EXPECT_TRUE(StampOf(path) == before);
    TaskList list;
    ASSERT_EQ(LoadConfiguration(path, list, error), LoadStatus::Loaded);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].name, "B");

    EXPECT_EQ(AddTask(dir.file("no/such/Duplora.cfg"), "C"), EditStatus::LockFailed);
}

TEST(ConfigEdit, GuardedSaveRefusesToOverwriteAnotherProcessesSave) {
    TempFolder dir;
    const std::string path = dir.file("Duplora.cfg");
    TaskList window;
    ConfigStamp known;
    std::string error;
    // Loaded while the file did not exist yet; another program then made it.
    ASSERT_EQ(LoadConfigurationStamped(path, window, known, error), LoadStatus::Missing);
    ASSERT_EQ(AddTask(path, "Theirs"), EditStatus::Saved);
    window.append("Mine", TaskRecord::MakeNew("d"));
    window.setChanged();
    EXPECT_EQ(SaveConfigurationGuarded(path, window, known, false, error),
              GuardedSaveStatus::Conflict);
    TaskList disk;
    LoadConfiguration(path, disk, error);
    EXPECT_EQ(disk[0].name, "Theirs");
    EXPECT_TRUE(window.changed());

    // The user chose to overwrite; later saves of the window's own file need
    // no question.
    EXPECT_EQ(SaveConfigurationGuarded(path, window, known, true, error), GuardedSaveStatus::Saved);
    EXPECT_FALSE(window.changed());
    EXPECT_EQ(SaveConfigurationGuarded(path, window, known, false, error),
              GuardedSaveStatus::Saved);
    LoadConfiguration(path, disk, error);
    EXPECT_EQ(disk[0].name, "Mine");
}
