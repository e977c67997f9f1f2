#pragma once
// The three interface text tables (numbered entries, UTF-8) and the language
// selection made once at start-up. Entries 0..148 are the original table;
// later numbers are given out in blocks of ten or twenty, one block per
// feature, and an unused number of a block is empty in all three tables.

#include <string>
#include <string_view>

namespace duplora {

enum class Language { English, SimplifiedChinese, TraditionalChinese };

constexpr int kTextCount = 293;
constexpr int kFirstExtendedText = 149;

// Registry "LangIndex" first, then the locale's code page.
void SelectLanguage();
void SetLanguage(Language lang);
Language CurrentLanguage();
// "宋体", "細明體" or "MS Sans Serif".
const std::string& InterfaceFontName();

// Entry n of the current table; an out-of-range or unused n gives "".
const std::string& Msg(int n);
const std::string& MsgIn(Language lang, int n);
// Entry n with "%1" (and "%2") replaced once each.
std::string MsgFill(int n, std::string_view v1);
std::string MsgFill(int n, std::string_view v1, std::string_view v2);

// For --lang: "en", "zh-CN", "zh-TW". False for anything else.
bool LanguageFromCode(std::string_view code, Language& out);

} // namespace duplora
