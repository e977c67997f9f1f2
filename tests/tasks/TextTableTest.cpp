#include "tasks/TextTable.h"
#include "tasks/LanguageSelection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

using namespace duplora;

namespace {

constexpr Language kAll[] = {Language::English, Language::SimplifiedChinese,
                             Language::TraditionalChinese};

// Puts the current language back after each test, so that tests run in one process (outside
// ctest) do not see each other's choice.
class TextTable : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CurrentLanguage(); }
    void TearDown() override { SetLanguage(saved_); }

private:
    Language saved_ = Language::English;
};

} // namespace

TEST_F(TextTable, EveryTableHasAllEntriesAndNothingOutsideThem) {
    for (Language lang : kAll) {
        for (int n = 0; n < kFirstExtendedText; ++n)
            EXPECT_FALSE(MsgIn(lang, n).empty()) << "entry " << n;
        EXPECT_EQ(MsgIn(lang, -1), "");
        EXPECT_EQ(MsgIn(lang, kTextCount), "");
        EXPECT_EQ(MsgIn(lang, 100000), "");
        // The ends of each table, so that a lost or doubled line shifts something visible.
        EXPECT_EQ(MsgIn(lang, 0), "Duplora");
    }
    EXPECT_EQ(kFirstExtendedText, 149);
    EXPECT_EQ(MsgIn(Language::English, 1), "&Task List");
    EXPECT_EQ(MsgIn(Language::English, 147), "Every Day");
    EXPECT_EQ(MsgIn(Language::English, 148), "Every Week");
    EXPECT_EQ(MsgIn(Language::SimplifiedChinese, 1), "任务列表");
    EXPECT_EQ(MsgIn(Language::SimplifiedChinese, 147), "每天");
    EXPECT_EQ(MsgIn(Language::SimplifiedChinese, 148), "每周");
    EXPECT_EQ(MsgIn(Language::TraditionalChinese, 1), "工作清單");
    EXPECT_EQ(MsgIn(Language::TraditionalChinese, 146), "每隔");
    EXPECT_EQ(MsgIn(Language::TraditionalChinese, 148), "每周");
}

TEST_F(TextTable, BlanksAndAmpersandsAreKept) {
    const Language en = Language::English;
    EXPECT_EQ(MsgIn(en, 2), "New Task");
    EXPECT_EQ(MsgIn(en, 26), "New Task ");
    EXPECT_EQ(MsgIn(en, 62), "  Do you want to continue?");
    EXPECT_EQ(MsgIn(en, 141), " Day");
    EXPECT_EQ(MsgIn(en, 142), "Schedule ");
    EXPECT_EQ(MsgIn(en, 143), "Next time: ");
    EXPECT_EQ(MsgIn(en, 46), "Start task: ");
    EXPECT_EQ(MsgIn(en, 47), "Failed to create target file, path: ");
    EXPECT_EQ(MsgIn(en, 48), "Failed to open source file, path: ");
    EXPECT_EQ(MsgIn(en, 49), "Break copying, path: ");
    EXPECT_EQ(MsgIn(en, 50), "Error when copying file, path: ");
    EXPECT_EQ(MsgIn(en, 52), "Failed to delete file, path: ");
    EXPECT_EQ(MsgIn(en, 65), "Performing: ");
    EXPECT_EQ(MsgIn(en, 91), "Create folder tree... ");
    EXPECT_EQ(MsgIn(en, 95), "D&elete files");
    EXPECT_EQ(MsgIn(en, 4), "Task &Name:");

    const Language sc = Language::SimplifiedChinese;
    EXPECT_EQ(MsgIn(sc, 26), "新任务");
    EXPECT_EQ(MsgIn(sc, 46), "开始同步任务:"); // no blank, unlike English
    EXPECT_EQ(MsgIn(sc, 52), "删除文件失败，路径: ");
    EXPECT_EQ(MsgIn(sc, 62), "  是否继续？");
    EXPECT_EQ(MsgIn(sc, 91), "正在生成文件夹树... ");
    EXPECT_EQ(MsgIn(sc, 141), " 日");
    EXPECT_EQ(MsgIn(sc, 143), "下次执行时间: ");
    EXPECT_EQ(MsgIn(sc, 4), "任务名称(&N):");
    EXPECT_EQ(MsgIn(sc, 22), "源文件夹 -> 镜像文件夹");

    const Language tc = Language::TraditionalChinese;
    EXPECT_EQ(MsgIn(tc, 52), "刪除資料夾失敗，路徑: "); // says folder where the others say file
    EXPECT_EQ(MsgIn(tc, 62), "  是否繼續？");
    EXPECT_EQ(MsgIn(tc, 141), " 日");
    EXPECT_EQ(MsgIn(tc, 22), "源資料夾->鏡像資料夾"); // no blanks around the arrow here
    EXPECT_EQ(MsgIn(tc, 80), "大小(本地)");
    EXPECT_EQ(MsgIn(tc, 90), "時間(遠程)");
    EXPECT_EQ(MsgIn(tc, 45), "取消(&C)");
}

TEST_F(TextTable, RepeatedEntriesAndTheMakerAreTheSameWhereTheyShouldBe) {
    for (Language lang : kAll) {
        EXPECT_EQ(MsgIn(lang, 21), MsgIn(lang, 12));
        EXPECT_EQ(MsgIn(lang, 97), MsgIn(lang, 5));
        EXPECT_EQ(MsgIn(lang, 100), MsgIn(lang, 45));
        EXPECT_EQ(MsgIn(lang, 88), "0");
        EXPECT_EQ(MsgIn(lang, 87), "0");
        EXPECT_EQ(MsgIn(lang, 41), "Duplora Project");
        EXPECT_EQ(MsgIn(lang, 43), "https://duplora.example.org");
    }
    for (Language lang : {Language::SimplifiedChinese, Language::TraditionalChinese}) {
        EXPECT_EQ(MsgIn(lang, 110), MsgIn(lang, 78));
        EXPECT_EQ(MsgIn(lang, 115), MsgIn(lang, 92));
        EXPECT_EQ(MsgIn(lang, 116), MsgIn(lang, 93));
    }
    const Language en = Language::English;
    EXPECT_EQ(MsgIn(en, 110), "Folder");
    EXPECT_EQ(MsgIn(en, 78), "Folders");
    EXPECT_EQ(MsgIn(en, 115), "Check &All");
    EXPECT_EQ(MsgIn(en, 92), "Select &All");
    EXPECT_EQ(MsgIn(en, 116), "&Clear Check");
    EXPECT_EQ(MsgIn(en, 93), "&Clear Selection");
}

TEST_F(TextTable, PlaceholdersAreExactlyWhereCallersFillThem) {
    // Callers fill these entries of the original table and nothing else; a "%" anywhere else
    // would be shown raw.
    for (Language lang : kAll) {
        for (int n = 0; n < kFirstExtendedText; ++n) {
            const std::string& t = MsgIn(lang, n);
            const bool one = (n >= 57 && n <= 61) || n == 71 || (n >= 84 && n <= 86);
            const bool two = n == 51 || n == 83;
            EXPECT_EQ(t.find("%1") != std::string::npos, one || two) << "entry " << n;
            EXPECT_EQ(t.find("%2") != std::string::npos, two) << "entry " << n;
            if (!one && !two) {
                EXPECT_EQ(t.find('%'), std::string::npos) << "entry " << n;
            }
        }
    }
}

TEST_F(TextTable, MsgFollowsTheCurrentLanguageWithItsFont) {
    SetLanguage(Language::SimplifiedChinese);
    EXPECT_EQ(CurrentLanguage(), Language::SimplifiedChinese);
    EXPECT_EQ(Msg(55), "没有文件需要同步！");
    EXPECT_EQ(InterfaceFontName(), "宋体");
    EXPECT_EQ(&Msg(55), &MsgIn(Language::SimplifiedChinese, 55)); // references stay valid

    SetLanguage(Language::TraditionalChinese);
    EXPECT_EQ(Msg(55), "沒有檔案需要同步！");
    EXPECT_EQ(InterfaceFontName(), "細明體");

    SetLanguage(Language::English);
    EXPECT_EQ(Msg(55), "No file need to be synchronized!");
    EXPECT_EQ(InterfaceFontName(), "MS Sans Serif");
    EXPECT_EQ(Msg(kTextCount), "");
    EXPECT_EQ(Msg(-5), "");

    // A value outside the enumeration must not index past the tables.
    SetLanguage(static_cast<Language>(7));
    EXPECT_EQ(CurrentLanguage(), Language::English);
    EXPECT_EQ(MsgIn(static_cast<Language>(7), 55), "No file need to be synchronized!");
}

TEST(TextTableStart, EnglishBeforeAnySelection) {
    // Run in a fresh copy of the test program, so no earlier test has chosen a language.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool ok = CurrentLanguage() == Language::English && Msg(24) == "Go Sync" &&
                            InterfaceFontName() == "MS Sans Serif";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(TextTable, FillingReplacesTheFirstPlaceholderOnly) {
    SetLanguage(Language::English);
    EXPECT_EQ(MsgFill(83, "12", "3.4M"), "Transmit File: 12(3.4M bytes)");
    EXPECT_EQ(MsgFill(51, "1000", "24"), "Total: 1000 bytes finish, 24 bytes remain");
    EXPECT_EQ(MsgFill(57, "7"), "Host folder -> Mirror folder: 7 files");
    EXPECT_EQ(MsgFill(57, ""), "Host folder -> Mirror folder:  files");
    // Text without the placeholder, and an out-of-range entry.
    EXPECT_EQ(MsgFill(55, "x"), "No file need to be synchronized!");
    EXPECT_EQ(MsgFill(55, "x", "y"), "No file need to be synchronized!");
    EXPECT_EQ(MsgFill(kTextCount, "x"), "");
    // Filling only the first leaves the second for a later step.
    EXPECT_EQ(MsgFill(83, "12"), "Transmit File: 12(%2 bytes)");

    SetLanguage(Language::SimplifiedChinese);
    EXPECT_EQ(MsgFill(83, "12", "3.4M"), "复制文件: 12(3.4M 字节)");
    SetLanguage(Language::TraditionalChinese);
    EXPECT_EQ(MsgFill(71, "3"), "操作失敗的檔案: 3 個");
}

TEST_F(TextTable, FilledValuesAreNeverSearchedAgain) {
    SetLanguage(Language::English);
    // A file name holding "%2" fills "%1"; the real "%2" still gets the size.
    EXPECT_EQ(MsgFill(83, "50%2.txt", "7"), "Transmit File: 50%2.txt(7 bytes)");
    EXPECT_EQ(MsgFill(83, "%1%2", "%1%2"), "Transmit File: %1%2(%1%2 bytes)");
    EXPECT_EQ(MsgFill(84, "a%1b"), "Del Host File: a%1b");
    EXPECT_EQ(MsgFill(84, "%"), "Del Host File: %");
}

TEST(LanguageCode, AcceptsTheThreeCodesInAnyCase) {
    Language out = Language::English;
    EXPECT_TRUE(LanguageFromCode("zh-CN", out));
    EXPECT_EQ(out, Language::SimplifiedChinese);
    EXPECT_TRUE(LanguageFromCode("zh-TW", out));
    EXPECT_EQ(out, Language::TraditionalChinese);
    EXPECT_TRUE(LanguageFromCode("en", out));
    EXPECT_EQ(out, Language::English);
    EXPECT_TRUE(LanguageFromCode("ZH-cn", out));
    EXPECT_EQ(out, Language::SimplifiedChinese);

    out = Language::TraditionalChinese;
    for (const char* bad : {"", "zh", "zh_CN", "zh-HK", "en-US", "english", " en", "en ", "zh-CNx"})
        EXPECT_FALSE(LanguageFromCode(bad, out)) << bad;
    EXPECT_EQ(out, Language::TraditionalChinese); // untouched on failure
}

TEST(LanguageChoice, RegistryValueFirstThenCodePage) {
    // No value: the code page decides.
    EXPECT_EQ(ChooseLanguage(0, 936), Language::SimplifiedChinese);
    EXPECT_EQ(ChooseLanguage(0, 950), Language::TraditionalChinese);
    EXPECT_EQ(ChooseLanguage(0, 437), Language::English);
    EXPECT_EQ(ChooseLanguage(0, 932), Language::English);
    // A value overrides the code page.
    EXPECT_EQ(ChooseLanguage(1, 437), Language::SimplifiedChinese);
    EXPECT_EQ(ChooseLanguage(2, 936), Language::TraditionalChinese);
    EXPECT_EQ(ChooseLanguage(1, 950), Language::SimplifiedChinese);
    for (std::int32_t other : {3, 100, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(ChooseLanguage(other, 936), Language::English) << other;
        EXPECT_EQ(ChooseLanguage(other, 950), Language::English) << other;
    }
}

TEST(LanguageChoice, CodePageFromLocaleNames) {
    auto cp = [](const char* name) { return OemCodePageFromLocale(nullptr, nullptr, name); };
    EXPECT_EQ(cp("zh_CN"), 936);
    EXPECT_EQ(cp("zh_CN.UTF-8"), 936);
    EXPECT_EQ(cp("zh_CN.GB18030"), 936);
    EXPECT_EQ(cp("zh_SG.UTF-8"), 936);
    EXPECT_EQ(cp("zh_cn.utf8"), 936);
    EXPECT_EQ(cp("zh_Hans"), 936);
    EXPECT_EQ(cp("zh_Hans_CN.UTF-8"), 936);
    EXPECT_EQ(cp("zh-Hans-SG"), 936);
    EXPECT_EQ(cp("zh_TW"), 950);
    EXPECT_EQ(cp("zh_TW.Big5"), 950);
    EXPECT_EQ(cp("zh_HK.UTF-8"), 950);
    EXPECT_EQ(cp("zh_MO"), 950);
    EXPECT_EQ(cp("zh_Hant"), 950);
    EXPECT_EQ(cp("zh-Hant-TW"), 950);
    EXPECT_EQ(cp("zh_Hant_CN"), 950); // the script names the writing, not the territory
    EXPECT_EQ(cp("zh_TW@stroke"), 950);
    // Not a Chinese locale, or no territory that says which writing.
    for (const char* other :
         {"", "C", "POSIX", "C.UTF-8", "en_US.UTF-8", "ja_JP.SJIS", "ko_KR", "zh", "zh.UTF-8",
          "zhx_CN", "en_CN", "en_TW.UTF-8", "_CN", "zh_", "de_DE@euro", "zh_XX"})
        EXPECT_EQ(cp(other), 437) << other;
    EXPECT_EQ(OemCodePageFromLocale(nullptr, nullptr, nullptr), 437);
}

TEST(LanguageChoice, LocaleVariablesInOrderAndEmptyCountsAsUnset) {
    EXPECT_EQ(OemCodePageFromLocale("zh_TW.UTF-8", "zh_CN.UTF-8", "en_US.UTF-8"), 950);
    EXPECT_EQ(OemCodePageFromLocale("en_US.UTF-8", "zh_CN.UTF-8", "zh_TW.UTF-8"), 437);
    EXPECT_EQ(OemCodePageFromLocale(nullptr, "zh_CN.UTF-8", "zh_TW.UTF-8"), 936);
    EXPECT_EQ(OemCodePageFromLocale("", "zh_CN.UTF-8", "zh_TW.UTF-8"), 936);
    EXPECT_EQ(OemCodePageFromLocale("", "", "zh_TW.UTF-8"), 950);
    EXPECT_EQ(OemCodePageFromLocale(nullptr, "", "zh_HK"), 950);
    EXPECT_EQ(OemCodePageFromLocale("", "", ""), 437);
}

namespace {

// Sets an environment variable for the life of the object and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A folder of its own holding the registry file, removed afterwards.
class RegistryFolder {
public:
    RegistryFolder()
        : dir_(std::filesystem::temp_directory_path() /
               ("duplora-texts-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
    }
    ~RegistryFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    RegistryFolder(const RegistryFolder&) = delete;
    RegistryFolder& operator=(const RegistryFolder&) = delete;

    void Write(const std::string& body) const {
        std::ofstream(dir_ / "registry.reg", std::ios::binary | std::ios::trunc) << body;
    }
    std::string Path() const { return dir_.string(); }

private:
    std::filesystem::path dir_;
};

std::string RegFile(const char* dword) {
    return std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\Duplora]\r\n"
                       "\"LangIndex\"=dword:") +
           dword + "\r\n";
}

} // namespace

TEST_F(TextTable, SelectLanguageReadsTheRegistryThenTheLocale) {
    RegistryFolder reg;
    ScopedEnv regDir("DUPLORA_REGISTRY_DIR", reg.Path().c_str());
    ScopedEnv lcMessages("LC_MESSAGES", nullptr);
    ScopedEnv lang("LANG", nullptr);

    {
        ScopedEnv lcAll("LC_ALL", "zh_CN.UTF-8");
        SelectLanguage(); // no registry file at all
        EXPECT_EQ(CurrentLanguage(), Language::SimplifiedChinese);
        EXPECT_EQ(InterfaceFontName(), "宋体");

        reg.Write(RegFile("00000002"));
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::TraditionalChinese);

        reg.Write(RegFile("00000003"));
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::English);

        reg.Write(RegFile("ffffffff")); // -1
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::English);

        reg.Write(RegFile("00000000"));
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::SimplifiedChinese);
    }
    {
        ScopedEnv lcAll("LC_ALL", "en_US.UTF-8");
        reg.Write(RegFile("00000001"));
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::SimplifiedChinese);

        reg.Write("this is not a registry file\r\n");
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::English);
    }
    {
        ScopedEnv lcAll("LC_ALL", "");
        ScopedEnv langZh("LANG", "zh_TW.UTF-8");
        SelectLanguage();
        EXPECT_EQ(CurrentLanguage(), Language::TraditionalChinese);
        EXPECT_EQ(InterfaceFontName(), "細明體");
    }
}
