#pragma once
// Byte-level UTF-8 helpers shared by every layer: the records' fixed-width
// texts, the tray's tool tip, the console's progress bar and set-aside names
// all cut texts by bytes and must never split a character.

#include <cstddef>
#include <string_view>

namespace duplora {

// A byte that continues a multi-byte character (10xxxxxx).
constexpr bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest prefix of `text` that holds at most `maxBytes` bytes and does
// not end inside a UTF-8 sequence.
constexpr std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    // text[end] is the first byte left out: step back over continuation
    // bytes to the lead byte of the character it belongs to.
    while (end > 0 && IsUtf8Continuation(text[end]))
        --end;
    return text.substr(0, end);
}

// As Utf8Prefix, but a text that is not UTF-8 at the cut (nothing but
// continuation bytes before it) is cut at `maxBytes`: file names are bytes,
// and an empty name would be no name at all.
constexpr std::string_view Utf8PrefixOrBytes(std::string_view text, std::size_t maxBytes) {
    const std::string_view cut = Utf8Prefix(text, maxBytes);
    return cut.empty() ? text.substr(0, maxBytes) : cut;
}

// Characters (lead bytes) in `text`.
constexpr std::size_t Utf8CharCount(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        n += IsUtf8Continuation(c) ? 0 : 1;
    return n;
}

// Characters of `s` when it is valid UTF-8 (no overlong two-byte forms, no
// lead byte above U+10FFFF's); -1 otherwise.
constexpr long ValidUtf8Chars(std::string_view s) {
    long count = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        if (c < 0x80)
            len = 1;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            len = 2;
        else if ((c & 0xF0) == 0xE0)
            len = 3;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            len = 4;
        else
            return -1;
        if (i + len > s.size())
            return -1;
        for (std::size_t k = 1; k < len; ++k)
            if (!IsUtf8Continuation(s[i + k]))
                return -1;
        i += len;
        ++count;
    }
    return count;
}

} // namespace duplora
