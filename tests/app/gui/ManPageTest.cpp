// The desktop program's man page names every switch its --help lists.

#include "TestPaths.h"
#include "app/gui/CommandLine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace duplora {
namespace {

TEST(ManPage, DesktopProgramPageNamesEverySwitch) {
    std::ifstream in(std::string(DUPLORA_SOURCE_DIR) + "/docs/man/duplora.1.scd");
    std::stringstream page;
    page << in.rdbuf();
    const std::string help = InfoSwitchText({"--help"});
    ASSERT_FALSE(help.empty());
    for (const char* sw : {"/H", "/A", "-A", "-C", "--help", "--version"}) {
        ASSERT_NE(help.find(sw), std::string::npos) << sw << " is no longer in --help";
        EXPECT_NE(page.str().find(std::string("*") + sw), std::string::npos) << sw;
    }
}

} // namespace
} // namespace duplora
