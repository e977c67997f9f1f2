// The wildcard matcher shared by the scanner and every file-mask filter.
//
// A mask is first read into tokens, each of which (except '*') consumes
// exactly one character of the name. Matching is then the greedy walk that
// remembers only the last '*' and, on a mismatch, lets that '*' take one more
// character: with one-character tokens this finds a match whenever one
// exists, in at most (name characters) x (tokens) steps, without recursion.
//
// Characters are whole UTF-8 sequences. A byte that starts no valid sequence
// counts as one character of its own, which matches only the same byte.
//
// Error positions are 1-based byte offsets into the mask:
//   unclosed set          the '[' that opens it
//   range without start   the '-' that has no character before it
//   more than 30 '*'      the 31st '*'

#include "tasks/WildMask.h"

#include <cstdint>
#include <vector>

namespace duplora {

namespace {

// Masks may hold at most this many '*' wildcards.
constexpr int kMaxStars = 30;

// Code points for bytes that start no valid sequence lie above Unicode, so
// they can never equal a real character.
constexpr std::uint32_t kRawByteBase = 0x110000;

struct Char {
    std::uint32_t code;
    std::size_t length;
};

// The character at `pos` (pos < text.size()).
Char CharAt(std::string_view text, std::size_t pos) {
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t follow;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        code = lead & 0x07;
    } else {
        return {kRawByteBase + lead, 1};
    }
    if (text.size() - pos <= follow)
        return {kRawByteBase + lead, 1};
    for (std::size_t k = 1; k <= follow; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[pos + k]);
        if ((c & 0xC0) != 0x80)
            return {kRawByteBase + lead, 1};
        code = (code << 6) | (c & 0x3F);
    }
    return {code, follow + 1};
}

std::uint32_t OtherCase(std::uint32_t c) {
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 'A';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 'a';
    return c;
}

struct Range {
    std::uint32_t low, high;
};

struct Token {
    enum Kind { Star, Any, Literal, Set } kind;
    std::uint32_t code = 0;  // Literal
    std::size_t first = 0;   // Set: index of its first range
    std::size_t count = 0;   // Set: number of ranges
    bool complement = false; // Set: "[!...]"
};

} // namespace

struct CompiledMask::Program {
    std::vector<Token> tokens;
    std::vector<Range> ranges;
};

namespace {

using Compiled = CompiledMask::Program;

Compiled Compile(std::string_view mask) {
    Compiled out;
    int stars = 0;
    std::size_t i = 0;
    auto fail = [&](std::size_t at) {
        throw InvalidMask(std::string(mask), static_cast<int>(at + 1));
    };
    while (i < mask.size()) {
        const char c = mask[i];
        if (c == '*') {
            if (++stars > kMaxStars)
                fail(i);
            // "**" is the same as "*": keep one token.
            if (out.tokens.empty() || out.tokens.back().kind != Token::Star)
                out.tokens.push_back({Token::Star});
            ++i;
        } else if (c == '?') {
            // A '?' right after a '*' adds nothing: "*?" is "*". Stored
            // filters written with that meaning keep matching as before.
            if (i == 0 || mask[i - 1] != '*')
                out.tokens.push_back({Token::Any});
            ++i;
        } else if (c == '[') {
            const std::size_t open = i;
            Token set{Token::Set};
            set.first = out.ranges.size();
            ++i;
            if (i < mask.size() && mask[i] == '!') {
                set.complement = true;
                ++i;
            }
            bool rangeEnded = false; // the last item was a complete range
            bool haveItem = false;
            for (;;) {
                if (i >= mask.size())
                    fail(open);
                if (mask[i] == ']') {
                    ++i;
                    break;
                }
                if (mask[i] == '-' && i + 1 < mask.size() && mask[i + 1] == ']') {
                    // A '-' right before ']' is an ordinary member.
                    out.ranges.push_back({'-', '-'});
                    ++i;
                    continue;
                }
                if (mask[i] == '-') {
                    if (!haveItem || rangeEnded)
                        fail(i);
                    // "[a-z]": the last single member becomes the start.
                    ++i;
                    if (i >= mask.size())
                        fail(open);
                    const Char end = CharAt(mask, i);
                    i += end.length;
                    Range& r = out.ranges.back();
                    r.high = end.code; // a reversed range holds nothing
                    rangeEnded = true;
                    continue;
                }
                const Char member = CharAt(mask, i);
                i += member.length;
                out.ranges.push_back({member.code, member.code});
                haveItem = true;
                rangeEnded = false;
            }
            set.count = out.ranges.size() - set.first;
            out.tokens.push_back(set);
        } else {
            const Char lit = CharAt(mask, i);
            i += lit.length;
            Token t{Token::Literal};
            t.code = lit.code;
            out.tokens.push_back(t);
        }
    }
    return out;
}

bool InSet(const Compiled& m, const Token& t, std::uint32_t c) {
    for (std::size_t k = t.first; k < t.first + t.count; ++k) {
        const Range& r = m.ranges[k];
        if (c >= r.low && c <= r.high)
            return true;
    }
    return false;
}

bool MatchOne(const Compiled& m, const Token& t, std::uint32_t c) {
    switch (t.kind) {
    case Token::Any:
        return true;
    case Token::Literal:
        return c == t.code || OtherCase(c) == t.code;
    case Token::Set: {
        const bool in = InSet(m, t, c) || (OtherCase(c) != c && InSet(m, t, OtherCase(c)));
        return in != t.complement;
    }
    case Token::Star:
        break;
    }
    return false;
}

} // namespace

InvalidMask::InvalidMask(const std::string& mask, int position)
    : std::runtime_error("'" + mask + "' is an invalid mask at (" + std::to_string(position) + ")"),
      mask_(mask), position_(position) {}

void ValidateMask(std::string_view mask) {
    (void)Compile(mask);
}

CompiledMask::CompiledMask(std::string_view mask)
    : program_(std::make_shared<const Program>(Compile(mask))) {}

namespace {

bool Run(const Compiled& m, std::string_view name) {
    const std::vector<Token>& tokens = m.tokens;
    const std::size_t count = tokens.size();

    std::size_t ti = 0; // next token
    std::size_t ni = 0; // next byte of the name (always a character start)
    bool haveStar = false;
    std::size_t starToken = 0; // token after the last '*'
    std::size_t starName = 0;  // where that '*' stops taking characters

    while (ni < name.size()) {
        if (ti < count && tokens[ti].kind == Token::Star) {
            haveStar = true;
            starToken = ++ti;
            starName = ni;
            continue;
        }
        const Char c = CharAt(name, ni);
        if (ti < count && MatchOne(m, tokens[ti], c.code)) {
            ni += c.length;
            ++ti;
            continue;
        }
        if (!haveStar)
            return false;
        // Let the last '*' take one more character and retry from there.
        starName += CharAt(name, starName).length;
        ni = starName;
        ti = starToken;
    }
    while (ti < count && tokens[ti].kind == Token::Star)
        ++ti;
    return ti == count;
}

} // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
    return Run(Compile(mask), name);
}

bool CompiledMask::Matches(std::string_view name) const {
    return Run(*program_, name);
}

} // namespace duplora
