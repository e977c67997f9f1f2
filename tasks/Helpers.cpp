// Path pieces, path macros, UTF-16 text, the short size text and the small
// string helpers. The file helpers live in FileHelpers.cpp, the packed
// date-time in AgePacking.cpp.

#include "tasks/Helpers.h"
#include "platform/Ascii.h"

#include "platform/RegistryFile.h"
#include "platform/Utf8.h"
#include "tasks/WildMask.h"

#include <cstdlib>

namespace duplora {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return AsciiEqualNoCase(a, b);
}

std::string TodayText(const MacroEnvironment& env) {
    std::tm now{};
    if (env.localNow) {
        now = env.localNow();
    } else {
        std::time_t t = std::time(nullptr);
        localtime_r(&t, &now);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
    return buf;
}

} // namespace

std::string RemoveTrailingBackslash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return std::string(path);
}

// An environment value replaces its reference only up to 259 bytes: the
// expansion buffer of a reference is 260 bytes with its terminating NUL, and
// the value is taken up to its first NUL.
static constexpr std::size_t kMacroResultCap = 259;

void ExpandPathMacros(std::string& path, const MacroEnvironment& env) {
    // 1. Every "%DATE%", in any case, becomes today's yyyymmdd.
    static constexpr std::string_view kDate = "%date%";
    if (path.size() >= kDate.size()) {
        const std::string today = TodayText(env);
        std::string out;
        out.reserve(path.size());
        std::size_t i = 0;
        while (i < path.size()) {
            if (path.size() - i >= kDate.size() &&
                EqualsNoCase(std::string_view(path).substr(i, kDate.size()), kDate)) {
                out += today;
                i += kDate.size();
            } else {
                out += path[i++];
            }
        }
        path = std::move(out);
    }

    // 2. %NAME% references, left to right. Text put in by an expansion is
    // never scanned again, so a value holding '%' (or its own reference)
    // cannot make the expansion loop or grow without end.
    // A pass that finds its '%' where the previous pass found one put
    // nothing in there ("%%", an empty value): the expansion ends, and that
    // '%' and the rest stay as written ("%%%HOME%" gives "%HOME%"). This is
    // the same stop that leaves an unknown name in place.
    std::size_t from = 0;
    std::size_t previous = std::string::npos;
    for (;;) {
        const std::size_t open = path.find('%', from);
        if (open == std::string::npos || open == previous)
            return;
        previous = open;
        const std::size_t close = path.find('%', open + 1);
        if (close == std::string::npos) {
            path.erase(open, 1); // a lone '%' disappears
            return;
        }
        if (close == open + 1) { // "%%" leaves nothing
            path.erase(open, 2);
            from = open;
            continue;
        }
        const std::string name = path.substr(open + 1, close - open - 1);
        const char* value = env.lookup ? env.lookup(name.c_str()) : std::getenv(name.c_str());
        if (value == nullptr)
            return; // unknown: it and everything after it stay as written
        const std::string_view result = Utf8Prefix(std::string_view(value), kMacroResultCap);
        path.replace(open, close - open + 1, result);
        from = open + result.size();
    }
}

std::string WideToUtf8(std::u16string_view text, std::size_t limit) {
    std::string out;
    for (char16_t unit : text) {
        char buf[3];
        std::size_t n;
        if (unit <= 0x7F) {
            buf[0] = static_cast<char>(unit);
            n = 1;
        } else if (unit <= 0x7FF) {
            buf[0] = static_cast<char>(0xC0 + (unit >> 6));
            buf[1] = static_cast<char>(0x80 + (unit & 0x3F));
            n = 2;
        } else {
            // Each half of a surrogate pair is written on its own, as the
            // file-list keys have always been made.
            buf[0] = static_cast<char>(0xE0 + (unit >> 12));
            buf[1] = static_cast<char>(0x80 + ((unit >> 6) & 0x3F));
            buf[2] = static_cast<char>(0x80 + (unit & 0x3F));
            n = 3;
        }
        if (out.size() + n > limit)
            break;
        out.append(buf, n);
    }
    return out;
}

std::u16string Utf8ToWide(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t follow = 0;
        std::uint32_t value = 0;
        if (lead >= 0xC0 && lead <= 0xDF) {
            follow = 1;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            follow = 2;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            follow = 3;
            value = lead & 0x07;
        } else if (lead >= 0xF8 && lead <= 0xFB) {
            follow = 4;
            value = lead & 0x03;
        } else if (lead >= 0xFC && lead <= 0xFD) {
            follow = 5;
            value = lead & 0x01;
        }
        bool whole = follow > 0 && text.size() - i > follow;
        for (std::size_t k = 1; whole && k <= follow; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                whole = false;
            else
                value = (value << 6) | (c & 0x3F);
        }
        if (!whole) {
            // An ASCII byte, or a byte that starts no complete sequence (a
            // stray continuation byte, 0xFE, 0xFF, a sequence cut short):
            // kept as the character with that byte's value, and decoding
            // goes on with the next byte.
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        // A value above 0xFFFF (four bytes and more, which WideToUtf8 never
        // writes) becomes a surrogate pair: cut to 16 bits it would turn into
        // an unrelated character.
        if (value <= 0xFFFF) {
            out.push_back(static_cast<char16_t>(value));
        } else if (value <= 0x10FFFF) {
            value -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            out.push_back(u'\uFFFD');
        }
        i += follow + 1;
    }
    return out;
}

std::u16string WideCopy(std::u16string_view text, std::size_t start, std::size_t count) {
    if (start < 1)
        start = 1;
    if (start > text.size())
        return {};
    return std::u16string(text.substr(start - 1, count));
}

bool MatchesAnyMask(std::string_view name, const std::vector<std::string>& masks) {
    for (const std::string& mask : masks)
        if (MatchesMask(name, mask))
            return true;
    return false;
}

std::string ReplaceFirst(std::string text, std::string_view old, std::string_view replacement) {
    if (old.empty())
        return text;
    const std::size_t at = text.find(old);
    if (at != std::string::npos)
        text.replace(at, old.size(), replacement);
    return text;
}

std::string ShortSizeText(std::int64_t size) {
    if (size < 1024)
        return std::to_string(size);
    const std::int64_t divisor = size < 1048576 ? 1024 : 1048576;
    std::int64_t whole = size / divisor;
    std::int64_t tenth = ((size % divisor) + divisor / 20) / (divisor / 10);
    if (tenth == 10) {
        ++whole;
        tenth = 0;
    }
    return std::to_string(whole) + "." + std::to_string(tenth) + (size >= 1048576 ? "M" : "K");
}

std::int32_t ReadRegistryInteger(std::string_view keyPath, std::string_view valueName) {
    return ReadRegistryDword(keyPath, valueName);
}

std::string GroupThousands(std::int64_t n) {
    const bool negative = n < 0;
    std::string digits = std::to_string(negative ? -n : n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), 1, ',');
    return negative ? "-" + digits : digits;
}

} // namespace duplora
