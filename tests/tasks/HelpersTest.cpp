#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

using namespace duplora;

namespace {

MacroEnvironment FixedEnvironment(std::map<std::string, std::string> vars) {
    MacroEnvironment env;
    env.localNow = [] {
        std::tm t{};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 2; // March
        t.tm_mday = 7;
        return t;
    };
    auto shared = std::make_shared<std::map<std::string, std::string>>(std::move(vars));
    env.lookup = [shared](const char* name) -> const char* {
        auto it = shared->find(name);
        return it == shared->end() ? nullptr : it->second.c_str();
    };
    return env;
}

std::string Expand(std::string path, const MacroEnvironment& env) {
    ExpandPathMacros(path, env);
    return path;
}

} // namespace

TEST(Helpers, RemoveTrailingSlash) {
    EXPECT_EQ(RemoveTrailingBackslash("/data/"), "/data");
    EXPECT_EQ(RemoveTrailingBackslash("/data"), "/data");
    EXPECT_EQ(RemoveTrailingBackslash("/data//"), "/data/"); // only one
    EXPECT_EQ(RemoveTrailingBackslash("/"), "/");
    EXPECT_EQ(RemoveTrailingBackslash(""), "");
    EXPECT_EQ(RemoveTrailingBackslash("a\\"), "a\\"); // a backslash is a name character
}

TEST(Helpers, PathMacros) {
    const MacroEnvironment env = FixedEnvironment({{"HOME", "/home/u"},
                                                   {"SUB", "x"},
                                                   {"PCT", "a%b%c"},
                                                   {"SELF", "%SELF%"},
                                                   {"GROW", "x%GROW%"},
                                                   {"EMPTY", ""}});
    EXPECT_EQ(Expand("/backup/%date%", env), "/backup/20260307");
    EXPECT_EQ(Expand("/b/%DaTe%-%DATE%", env), "/b/20260307-20260307");
    EXPECT_EQ(Expand("%HOME%/%SUB%/f", env), "/home/u/x/f");
    EXPECT_EQ(Expand("/a%b", env), "/ab");      // a lone '%' disappears
    EXPECT_EQ(Expand("/a/%%/b", env), "/a//b"); // "%%" leaves nothing
    // Each pass starts at the first '%' left; when a pass put nothing in
    // ("%%", or a value that is empty) and that same place holds a '%'
    // again, the expansion ends there, as it does for an unknown name.
    EXPECT_EQ(Expand("/a%%%HOME%", env), "/a%HOME%");
    EXPECT_EQ(Expand("%%%", env), "%");
    EXPECT_EQ(Expand("/a%%b%HOME%", env), "/ab/home/u");
    EXPECT_EQ(Expand("%HOME%%%%SUB%", env), "/home/u%SUB%");
    EXPECT_EQ(Expand("%EMPTY%%SUB%/%SUB%", env), "%SUB%/%SUB%");
    EXPECT_EQ(Expand("%EMPTY%/%SUB%", env), "/x");
    // An unknown variable stops the expansion: it and the rest stay.
    EXPECT_EQ(Expand("%SUB%/%NOPE%/%HOME%", env), "x/%NOPE%/%HOME%");
    EXPECT_EQ(Expand("/%NOPE%", env), "/%NOPE%");
    // Expanded text is not read again, so '%' in values stays and a value
    // naming itself cannot make the expansion loop.
    EXPECT_EQ(Expand("%PCT%/%SUB%", env), "a%b%c/x");
    EXPECT_EQ(Expand("%SELF%", env), "%SELF%");
    EXPECT_EQ(Expand("%GROW%/%SUB%", env), "x%GROW%/x");
    EXPECT_EQ(Expand("", env), "");
    EXPECT_EQ(Expand("/plain/path", env), "/plain/path");
}

TEST(Helpers, PathMacroResultIsCappedOnACharacterBoundary) {
    // 258 ASCII bytes then 'é' (2 bytes): 260 bytes do not fit in 259, and
    // the cut may not split the 'é'.
    const std::string longValue = std::string(258, 'v') + "\xC3\xA9";
    const MacroEnvironment env = FixedEnvironment({{"LONG", longValue}});
    EXPECT_EQ(Expand("%LONG%/end", env), std::string(258, 'v') + "/end");
    const MacroEnvironment fits = FixedEnvironment({{"LONG", std::string(259, 'v')}});
    EXPECT_EQ(Expand("%LONG%", fits), std::string(259, 'v'));
}

TEST(Helpers, PathMacrosUseTheProcessEnvironmentByDefault) {
    ::setenv("DUPLORA_TEST_MACRO", "/tmp/m", 1);
    MacroEnvironment env;
    env.localNow = FixedEnvironment({}).localNow;
    EXPECT_EQ(Expand("%DUPLORA_TEST_MACRO%/x", env), "/tmp/m/x");
    ::unsetenv("DUPLORA_TEST_MACRO");
}

TEST(Helpers, WideToUtf8EncodesEachUnit) {
    EXPECT_EQ(WideToUtf8(u"abc"), "abc");
    EXPECT_EQ(WideToUtf8(u"\u00E9"), "\xC3\xA9");
    EXPECT_EQ(WideToUtf8(u"\u4E2D"), "\xE4\xB8\xAD");
    // A character outside the BMP: two three-byte groups, one per surrogate.
    EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
    // The limit ends the text before the first unit that would pass it.
    EXPECT_EQ(WideToUtf8(u"a\u00E9b", 2), "a");
    EXPECT_EQ(WideToUtf8(u"a\u00E9b", 3), "a\xC3\xA9");
    EXPECT_EQ(WideToUtf8(u"a\u4E2D", 3), "a");
}

TEST(Helpers, Utf8ToWideInvertsWideToUtf8AndSurvivesBadBytes) {
    std::u16string all;
    for (char32_t c = 1; c <= 0xFFFF; c += 7)
        all.push_back(static_cast<char16_t>(c));
    all += u"\U0001F600x";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(all)), all);

    // Proper four-byte UTF-8 gives a surrogate pair, not a cut value.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
    // Bytes that start no complete sequence stand for themselves.
    EXPECT_EQ(Utf8ToWide("\x80"
                         "a"),
              u"\u0080a");
    EXPECT_EQ(Utf8ToWide("\xFF\xFE"), u"\u00FF\u00FE");
    EXPECT_EQ(Utf8ToWide("a\xE4\xB8"), u"a\u00E4\u00B8"); // cut short at the end
    EXPECT_EQ(Utf8ToWide("\xC3"
                         "a"),
              u"\u00C3a"); // follower missing
    EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(Helpers, WideCopyIsOneBased) {
    EXPECT_EQ(WideCopy(u"abcdef", 2, 3), u"bcd");
    EXPECT_EQ(WideCopy(u"abcdef", 5, 10), u"ef");
    EXPECT_EQ(WideCopy(u"abcdef", 7, 1), u"");
    EXPECT_EQ(WideCopy(u"abcdef", 0, 2), u"ab");
    EXPECT_EQ(WideCopy(u"abc", 1, 0), u"");
}

TEST(Helpers, ReplaceFirst) {
    EXPECT_EQ(ReplaceFirst("%1 of %1", "%1", "x"), "x of %1");
    EXPECT_EQ(ReplaceFirst("none", "%1", "x"), "none");
    EXPECT_EQ(ReplaceFirst("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceFirst("abc", "abc", ""), "");
}

TEST(Helpers, ShortSizeText) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {-5, "-5"},
        {-5000000, "-5000000"},
        {1023, "1023"},
        {1024, "1.0K"},
        {1536, "1.5K"},
        {1074, "1.0K"}, // 50 bytes over: rounds down
        {1075, "1.1K"}, // 51 bytes over: rounds up
        {1048575, "1024.0K"},
        {1048576, "1.0M"},
        {1572864, "1.5M"},
        {10 * 1048576 - 1, "10.0M"},
        {INT64_MAX, "8796093022208.0M"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(ShortSizeText(size), text) << size;
}
