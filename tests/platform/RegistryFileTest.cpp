#include "platform/RegistryFile.h"
#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace duplora;
namespace fs = std::filesystem;

namespace {

std::optional<std::uint32_t> Read(std::string_view text, std::string_view key,
                                  std::string_view value) {
    auto file = RegistryFile::Parse(text);
    if (!file)
        return std::nullopt;
    return file->ReadDword(key, value);
}

constexpr const char* kSample = "Windows Registry Editor Version 5.00\r\n"
                                "\r\n"
                                "; the language\r\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Duplora]\r\n"
                                "\"LangIndex\"=dword:00000002\r\n"
                                "\"Name\"=\"text; not a comment\"\r\n"
                                "\"Big\"=dword:ffffffff\r\n"
                                "@=dword:0000002a\r\n"
                                "\"Say \\\"hi\\\"\"=dword:7\r\n"
                                "\"Bytes\"=hex(4):0a,01,00,00\r\n"
                                "\"Multi\"=hex(7):41,00,00,00,\\\r\n"
                                "  00,00\r\n"
                                "\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Duplora]\r\n"
                                "\"LangIndex\"=dword:00000001\r\n";

} // namespace

TEST(RegistryFile, ReadsDwordsWithoutRegardToCase) {
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex"), 2u);
    EXPECT_EQ(Read(kSample, "hkey_local_machine\\SOFTWARE\\duplora", "langindex"), 2u);
    EXPECT_EQ(Read(kSample, "HKLM\\Software\\Duplora\\", "LangIndex"), 2u);
    EXPECT_EQ(Read(kSample, "HKEY_CURRENT_USER\\Software\\Duplora", "LangIndex"), 1u);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Big"), 0xFFFFFFFFu);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", ""), 42u);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Say \"hi\""), 7u);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Bytes"), 0x10Au);
    // Other kinds, missing values and missing keys give nothing.
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Name"), std::nullopt);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Multi"), std::nullopt);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Duplora", "Nope"), std::nullopt);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software", "LangIndex"), std::nullopt);
    EXPECT_EQ(Read(kSample, "HKEY_LOCAL_MACHINE\\Software\\Other", "LangIndex"), std::nullopt);

    auto file = RegistryFile::Parse(kSample);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->HasKey("HKEY_LOCAL_MACHINE\\Software")); // parent of a written key
    EXPECT_FALSE(file->HasKey("HKEY_LOCAL_MACHINE\\Soft"));
}

TEST(RegistryFile, OlderHeaderRemovalsAndLaterValuesWin) {
    const char* text = "REGEDIT4\n"
                       "[HKEY_CURRENT_USER\\A]\n"
                       "\"x\"=dword:1\n"
                       "\"y\"=dword:2\n"
                       "[HKEY_CURRENT_USER\\A\\B]\n"
                       "\"z\"=dword:3\n"
                       "[HKEY_CURRENT_USER\\AB]\n"
                       "\"z\"=dword:4\n"
                       "[HKEY_CURRENT_USER\\A]\n"
                       "\"x\"=dword:5\n"
                       "\"y\"=-\n"
                       "[-HKEY_CURRENT_USER\\A\\B]\n";
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A", "x"), 5u);
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A", "y"), std::nullopt);
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A\\B", "z"), std::nullopt);
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\AB", "z"), 4u); // a sibling, not a sub-key
}

TEST(RegistryFile, RemovingAKeyReachesSubKeysBehindSiblingsThatSortBetween) {
    // "a-b" and "a.b" sort between "a" and its sub-keys (both '-' and '.'
    // come before the backslash), so a walk that stops at the first key that
    // is not a sub-key would leave the sub-keys behind them alive.
    const char* text = "REGEDIT4\n"
                       "[HKEY_CURRENT_USER\\A\\Sub]\n"
                       "\"v\"=dword:1\n"
                       "[HKEY_CURRENT_USER\\A-B]\n"
                       "\"v\"=dword:2\n"
                       "[HKEY_CURRENT_USER\\A.B]\n"
                       "\"v\"=dword:3\n"
                       "[-HKEY_CURRENT_USER\\A]\n";
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A\\Sub", "v"), std::nullopt);
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A-B", "v"), 2u);
    EXPECT_EQ(Read(text, "HKEY_CURRENT_USER\\A.B", "v"), 3u);

    // A key that exists only as the parent of another is found the same way.
    auto file = RegistryFile::Parse("REGEDIT4\n"
                                    "[HKEY_CURRENT_USER\\P\\Q]\n"
                                    "[HKEY_CURRENT_USER\\P-R]\n");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->HasKey("HKEY_CURRENT_USER\\P"));
    EXPECT_FALSE(file->HasKey("HKEY_CURRENT_USER\\P-"));
}

TEST(RegistryFile, Utf16WithByteOrderMark) {
    const std::string utf8 = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\"
                             "K\xC3\xA9]\r\n\"V\"=dword:00000009\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t unit : Utf8ToWide(utf8)) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    EXPECT_EQ(Read(utf16, "HKEY_LOCAL_MACHINE\\K\xC3\xA9", "V"), 9u);
    EXPECT_EQ(Read("\xEF\xBB\xBF" + utf8, "HKEY_LOCAL_MACHINE\\K\xC3\xA9", "V"), 9u);
}

TEST(RegistryFile, AnythingUnparsableRefusesTheWholeFile) {
    const std::string head = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"ok\"=dword:1\n";
    EXPECT_TRUE(RegistryFile::Parse(head));
    const char* broken[] = {
        "", "just text\n",
        "[HKEY_CURRENT_USER\\A]\n\"ok\"=dword:1\n", // no header
        "REGEDIT4\n\"v\"=dword:1\n",                // value outside any key
    };
    for (const char* text : broken)
        EXPECT_FALSE(RegistryFile::Parse(text)) << text;
    const char* badLines[] = {
        "[HKEY_CURRENT_USER\\B\n", // unclosed key
        "[NOT_A_ROOT\\B]\n",       // unknown root
        "\"v\"=dword:123456789\n", // nine digits
        "\"v\"=dword:12g4\n",      // not hex
        "\"v\"=dword:\n",          //
        "\"v\"=dword:1 x\n",       // trailing text
        "\"v=dword:1\n",           // unclosed name
        "\"v\" dword:1\n",         // no '='
        "\"v\"=\"unclosed\n",      //
        "\"v\"=hex:0\n",           // half a byte
        "\"v\"=hex:00,\n",         // a comma with nothing after it
        "\"v\"=qword:1\n",         // unknown kind
        "\"v\"=hex:00,\\\n",       // continued to the end of the file
        "garbage\n",
    };
    std::string error;
    for (const char* line : badLines) {
        EXPECT_FALSE(RegistryFile::Parse(head + line, &error)) << line;
        EXPECT_NE(error.find("line "), std::string::npos) << line;
    }
}

namespace {

class RegistryRead : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "duplora-reg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ::setenv("DUPLORA_REGISTRY_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("DUPLORA_REGISTRY_DIR");
        fs::remove_all(dir_);
    }
    void Write(const std::string& text) {
        std::ofstream(dir_ + "/registry.reg", std::ios::binary) << text;
    }
    std::string dir_;
};

} // namespace

TEST_F(RegistryRead, ReadsTheFileInTheRegistryFolder) {
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex"), 0);
    Write(kSample);
    EXPECT_EQ(RegistryFileForRoot("HKEY_LOCAL_MACHINE"), dir_ + "/registry.reg");
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex"), 2);
    EXPECT_EQ(ReadRegistryInteger("hkey_local_machine\\Software\\Duplora", "LangIndex"), 2);
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "Big"), -1);
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "Name"), 0);
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "Missing"), 0);
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Missing", "LangIndex"), 0);
    // A path that does not start with a root lies below the current user.
    EXPECT_EQ(ReadRegistryInteger("Software\\Duplora", "LangIndex"), 1);
    EXPECT_EQ(ReadRegistryInteger("\\Software\\Duplora", "LangIndex"), 1);
    // Lookups spell roots in full.
    EXPECT_EQ(ReadRegistryInteger("HKLM\\Software\\Duplora", "LangIndex"), 0);

    Write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Duplora]\n\"LangIndex\"=dword:2\nbad\n");
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex"), 0);
}

TEST_F(RegistryRead, APipeInPlaceOfTheFileReadsAsNothingAtOnce) {
    // The language is chosen before any window exists; a pipe that nobody
    // writes to may not hold up the start.
    const std::string pipe = dir_ + "/registry.reg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // After 1.5 s this serves every reader that waits on the pipe, so a
    // reader that blocks makes the test fail instead of hang.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 15 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        while (!done) {
            const int fd = ::open(pipe.c_str(), O_WRONLY);
            if (fd < 0)
                return;
            const std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Duplora]\n"
                                     "\"LangIndex\"=dword:2\n";
            (void)!::write(fd, text.data(), text.size());
            ::close(fd);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RegistryFile::Load(pipe));
    EXPECT_EQ(ReadRegistryInteger("HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    done = true;
    const int release = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK); // wakes the writer
    writer.join();
    ::close(release);
}

TEST(RegistryFileLocation, DefaultFilesPerRoot) {
    ::unsetenv("DUPLORA_REGISTRY_DIR");
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    EXPECT_EQ(RegistryFileForRoot("HKEY_LOCAL_MACHINE"), "/etc/duplora/registry.reg");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(RegistryFileForRoot("HKEY_CURRENT_USER"), "/cfg/duplora/registry.reg");
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // only absolute paths count
    const char* home = std::getenv("HOME");
    if (home) {
        EXPECT_EQ(RegistryFileForRoot("hkey_current_user"),
                  std::string(home) + "/.config/duplora/registry.reg");
    }
    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(RegistryFile, DamagedFilesNeverCrashTheReader) {
    // Random byte damage to a valid file: the reader either refuses it or
    // answers; under the sanitizers this also proves it never reads past the
    // text.
    std::mt19937 rng(7);
    const std::string base = kSample;
    for (int round = 0; round < 3000; ++round) {
        std::string text = base.substr(0, rng() % (base.size() + 1));
        for (int k = 0; k < 3; ++k)
            if (!text.empty())
                text[rng() % text.size()] = static_cast<char>(rng() % 256);
        if (auto file = RegistryFile::Parse(text))
            (void)file->ReadDword("HKEY_LOCAL_MACHINE\\Software\\Duplora", "LangIndex");
    }
}
