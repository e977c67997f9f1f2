#pragma once
// The start-up choice of the interface language, split into pure steps so that each rule can
// be checked without a registry file or a particular locale.

#include "tasks/TextTable.h"

#include <cstdint>

namespace duplora {

// The registry key and value read by SelectLanguage.
inline constexpr std::string_view kLanguageRegistryKey = "HKEY_LOCAL_MACHINE\\Software\\Duplora";
inline constexpr std::string_view kLanguageRegistryValue = "LangIndex";

// "LangIndex" 1 is Simplified Chinese, 2 Traditional Chinese, any other non-zero value English.
// 0 (also what a missing value reads as) leaves the choice to the OEM code page: 936 Simplified
// Chinese, 950 Traditional Chinese, anything else English.
Language ChooseLanguage(std::int32_t langIndex, int oemCodePage);

// The OEM code page a Windows system with this locale would report: 936 for zh_CN, zh_SG and
// the zh_Hans forms, 950 for zh_TW, zh_HK, zh_MO and the zh_Hant forms, 437 otherwise. The
// locale is the first set and non-empty one of LC_ALL, LC_MESSAGES and LANG; any argument may
// be null.
int OemCodePageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

// OemCodePageFromLocale over this process's environment.
int OemCodePageFromEnvironment();

} // namespace duplora
