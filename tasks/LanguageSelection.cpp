// Kept apart from TextTable.cpp so that code which only looks texts up does not pull in the
// registry reader.

#include "tasks/LanguageSelection.h"
#include "platform/Ascii.h"

#include "tasks/Helpers.h"

#include <cstdlib>
#include <string_view>

namespace duplora {
namespace {

constexpr int kSimplifiedChineseCodePage = 936;
constexpr int kTraditionalChineseCodePage = 950;
constexpr int kUnitedStatesCodePage = 437;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return AsciiEqualNoCase(a, b);
}

// A locale name is language[_territory][.codeset][@modifier]; the script forms add a part
// ("zh_Hans_CN", "zh-Hant-TW"). The code set and modifier say nothing about the language, so
// they are cut off before the parts are read.
int CodePageOfLocaleName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    auto next = [&name]() {
        std::size_t end = name.find_first_of("_-");
        std::string_view part = name.substr(0, end);
        name = end == std::string_view::npos ? std::string_view() : name.substr(end + 1);
        return part;
    };
    if (!SameIgnoringCase(next(), "zh"))
        return kUnitedStatesCodePage;
    int byTerritory = kUnitedStatesCodePage;
    while (!name.empty()) {
        std::string_view part = next();
        // The script names the writing outright, so it outweighs the territory
        // ("zh_Hant_CN" is written in traditional characters).
        if (SameIgnoringCase(part, "Hans"))
            return kSimplifiedChineseCodePage;
        if (SameIgnoringCase(part, "Hant"))
            return kTraditionalChineseCodePage;
        if (SameIgnoringCase(part, "CN") || SameIgnoringCase(part, "SG"))
            byTerritory = kSimplifiedChineseCodePage;
        else if (SameIgnoringCase(part, "TW") || SameIgnoringCase(part, "HK") ||
                 SameIgnoringCase(part, "MO"))
            byTerritory = kTraditionalChineseCodePage;
    }
    return byTerritory;
}

} // namespace

Language ChooseLanguage(std::int32_t langIndex, int oemCodePage) {
    switch (langIndex) {
    case 0:
        break;
    case 1:
        return Language::SimplifiedChinese;
    case 2:
        return Language::TraditionalChinese;
    default:
        return Language::English;
    }
    switch (oemCodePage) {
    case kSimplifiedChineseCodePage:
        return Language::SimplifiedChinese;
    case kTraditionalChineseCodePage:
        return Language::TraditionalChinese;
    default:
        return Language::English;
    }
}

int OemCodePageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    // An empty variable counts as unset, as in the C library's own locale lookup.
    for (const char* value : {lcAll, lcMessages, lang})
        if (value != nullptr && *value != '\0')
            return CodePageOfLocaleName(value);
    return kUnitedStatesCodePage;
}

int OemCodePageFromEnvironment() {
    return OemCodePageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                 std::getenv("LANG"));
}

void SelectLanguage() {
    const std::int32_t index = ReadRegistryInteger(kLanguageRegistryKey, kLanguageRegistryValue);
    // The locale is only consulted when the registry leaves the choice open.
    SetLanguage(ChooseLanguage(index, index == 0 ? OemCodePageFromEnvironment() : 0));
}

} // namespace duplora
