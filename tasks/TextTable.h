#pragma once
// The three interface text tables (149 numbered entries each, UTF-8) and the
// language selection made once at start-up.

#include <string>
#include <string_view>

namespace duplora {

enum class Language { English, SimplifiedChinese, TraditionalChinese };

constexpr int kTextCount = 149;

// Registry "LangIndex" first, then the locale's code page.
void SelectLanguage();
void SetLanguage(Language lang);
Language CurrentLanguage();
// "宋体", "細明體" or "MS Sans Serif".
const std::string& InterfaceFontName();

// Entry n (0..148) of the current table; an out-of-range n gives "".
const std::string& Msg(int n);
const std::string& MsgIn(Language lang, int n);
// Entry n with "%1" (and "%2") replaced once each.
std::string MsgFill(int n, std::string_view v1);
std::string MsgFill(int n, std::string_view v1, std::string_view v2);

// For --lang: "en", "zh-CN", "zh-TW". False for anything else.
bool LanguageFromCode(std::string_view code, Language& out);

} // namespace duplora
