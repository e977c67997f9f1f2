#include "tasks/WildMask.h"
#include "tasks/Helpers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <random>
#include <string>

using namespace duplora;

namespace {

struct MatchCase {
    const char* mask;
    const char* name;
    bool matches;
};

const MatchCase kCases[] = {
    // '*' and the whole-name rule
    {"*", "", true},
    {"*", "anything.txt", true},
    {"*.txt", "a.txt", true},
    {"*.txt", "a.txt.bak", false},
    {"*.txt", ".txt", true},
    {"a*b*c", "aXXbYYc", true},
    {"a*b*c", "aXXbYYcZ", false},
    {"a*b*c", "abcbc", true},
    {"*a*a*a", "aaa", true},
    {"*ab", "aab", true}, // the star must give back what it took
    {"*aab", "aaab", true},
    {"abc", "abcd", false}, // no star: exact length
    {"abc", "ab", false},
    {"", "", true},
    {"", "a", false},
    // "*.*" only for names with a dot
    {"*.*", "readme", false},
    {"*.*", "readme.", true},
    {"*.*", ".profile", true},
    // '?' is one whole character
    {"?", "a", true},
    {"?", "", false},
    {"??", "a", false},
    {"a?c", "abc", true},
    {"a?c",
     "a\xC3\xA9"
     "c",
     true}, // é is one character of two bytes
    {"a??c",
     "a\xC3\xA9"
     "c",
     false},
    {"?", "\xF0\x9F\x98\x80", true}, // a four-byte character
    {"*?", "", true},                // a '?' right after '*' adds nothing
    {"a*?", "a", true},
    {"a*?", "ab", true},
    {"*?.txt", ".txt", true},
    {"*??", "", false}, // only the first '?' after the '*' is dropped
    {"*??", "x", true},
    {"?*", "", false},
    // case: ASCII letters fold, other bytes exact
    {"README.TXT", "readme.txt", true},
    {"*.JPG", "photo.jpg", true},
    {"\xC3\x89", "\xC3\xA9", false}, // É and é are different bytes
    {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", true},
    // sets and ranges
    {"[abc]", "b", true},
    {"[abc]", "d", false},
    {"[abc]", "B", true},
    {"[a-c]x", "bx", true},
    {"[a-c]x", "dx", false},
    {"[A-C]", "b", true},
    {"[!a-c]", "d", true},
    {"[!a-c]", "b", false},
    {"[!a-c]", "B", false},
    {"[!abc]", "", false},
    {"[a-]", "-", true},
    {"[-]", "-", true},
    {"[z-a]", "m", false}, // a reversed range holds nothing
    {"[]", "a", false},
    {"[!]", "a", true},
    {"[*?]", "*", true}, // inside a set they are plain members
    {"[*?]", "x", false},
    {"[\xC3\xA9\xC3\xA8]", "\xC3\xA8", true},
    {"[\xC3\xA0-\xC3\xBF]", "\xC3\xA9", true},
    {"[!\xC3\xA9]", "\xC3\xA9", false},
    {"*[0-9].log", "run7.log", true},
    {"*[0-9].log", "run.log", false},
    // bytes that start no valid sequence are characters of their own
    {"?", "\xFF", true},
    {"?", "\xC3", true},
    {"a\xFF", "a\xFF", true},
    {"a\xFF", "a\xFE", false},
};

} // namespace

TEST(WildMask, MatchTable) {
    for (const MatchCase& c : kCases)
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.matches)
            << "mask '" << c.mask << "' name '" << c.name << "'";
}

TEST(WildMask, InvalidMasksNameMaskAndPosition) {
    struct Bad {
        const char* mask;
        int position;
    };
    const Bad bad[] = {
        {"[abc", 1}, {"x[", 2}, {"ab[!c", 3}, {"[a-", 1}, {"[-a]", 2}, {"[!-a]", 3}, {"[a-c-e]", 5},
    };
    for (const Bad& b : bad) {
        try {
            MatchesMask("abc", b.mask);
            ADD_FAILURE() << "no error for " << b.mask;
        } catch (const InvalidMask& e) {
            EXPECT_EQ(e.position(), b.position) << b.mask;
            EXPECT_EQ(e.mask(), b.mask);
            EXPECT_EQ(std::string(e.what()), "'" + std::string(b.mask) +
                                                 "' is an invalid mask at (" +
                                                 std::to_string(b.position) + ")");
        }
        EXPECT_THROW(ValidateMask(b.mask), InvalidMask);
    }
    EXPECT_NO_THROW(ValidateMask("*.[ch]"));
    // An invalid mask throws even when the name would fail before reaching
    // the bad part.
    EXPECT_THROW(MatchesMask("zzz", "a[bc"), InvalidMask);
}

TEST(WildMask, StarLimitIsThirty) {
    const std::string thirty(30, '*');
    EXPECT_TRUE(MatchesMask("x", thirty));
    EXPECT_NO_THROW(ValidateMask("a*b*c*d*e*f*g*h*i*j*k*l*m*n*o*p*q*r*s*t*u*v*w*x*y*z*1*2*3*4*"));
    try {
        MatchesMask("x", "a" + std::string(31, '*'));
        ADD_FAILURE() << "31 stars accepted";
    } catch (const InvalidMask& e) {
        EXPECT_EQ(e.position(), 32); // the 31st '*'
    }
    // A '*' inside a set is a member and does not count.
    EXPECT_NO_THROW(ValidateMask(thirty + "[*]"));
}

TEST(WildMask, WorstCaseIsPolynomial) {
    // 30 stars separated by letters against a long name that almost
    // matches: a backtracking matcher would take exponential time here.
    std::string mask;
    for (int i = 0; i < 30; ++i)
        mask += "*a";
    mask += "b";
    const std::string name(4000, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesMask(name, mask));
    EXPECT_TRUE(MatchesMask(name + "b", mask));
    EXPECT_TRUE(MatchesMask(name, std::string(30, '*')));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(1));
}

TEST(WildMask, AnyMaskOfAList) {
    const std::vector<std::string> masks{"*.tmp", "~*", "[0-9]*.bak"};
    EXPECT_TRUE(MatchesAnyMask("x.TMP", masks));
    EXPECT_TRUE(MatchesAnyMask("~lock", masks));
    EXPECT_TRUE(MatchesAnyMask("1.bak", masks));
    EXPECT_FALSE(MatchesAnyMask("a.bak", masks));
    EXPECT_FALSE(MatchesAnyMask("x.tmp", {}));
    EXPECT_THROW(MatchesAnyMask("a", {"b", "[a"}), InvalidMask);
}

namespace {

// Plain recursive matcher over one-byte characters, obviously right and
// exponential: the reference for small random cases.
bool Reference(std::string_view name, std::string_view mask) {
    if (mask.empty())
        return name.empty();
    if (mask[0] == '*') {
        std::string_view rest = mask.substr(1);
        if (!rest.empty() && rest[0] == '?') // "*?" is "*"
            rest = rest.substr(1);
        return Reference(name, rest) || (!name.empty() && Reference(name.substr(1), mask));
    }
    if (name.empty())
        return false;
    if (mask[0] == '[') { // only "[ab]" and "[!ab]" are generated
        const bool complement = mask[1] == '!';
        const std::size_t close = mask.find(']');
        const std::string_view members =
            mask.substr(complement ? 2 : 1, close - (complement ? 2 : 1));
        const bool in = members.find(static_cast<char>(std::tolower(name[0]))) != std::string::npos;
        return in != complement && Reference(name.substr(1), mask.substr(close + 1));
    }
    const bool same = mask[0] == '?' || std::tolower(mask[0]) == std::tolower(name[0]);
    return same && Reference(name.substr(1), mask.substr(1));
}

} // namespace

TEST(WildMask, AgreesWithAReferenceOnRandomCases) {
    std::mt19937 rng(12345);
    const char* pieces[] = {"a", "B", "b", "*", "?", "[ab]", "[!a]", "c"};
    for (int round = 0; round < 20000; ++round) {
        std::string mask;
        const int tokens = static_cast<int>(rng() % 7);
        for (int i = 0; i < tokens; ++i)
            mask += pieces[rng() % 8];
        std::string name;
        const int length = static_cast<int>(rng() % 8);
        for (int i = 0; i < length; ++i)
            name += "abAc"[rng() % 4];
        ASSERT_EQ(MatchesMask(name, mask), Reference(name, mask))
            << "mask '" << mask << "' name '" << name << "'";
        ASSERT_EQ(CompiledMask(mask).Matches(name), Reference(name, mask));
    }
}

TEST(WildMask, RandomBytesGiveAResultOrAnInvalidMask) {
    // Masks and names of arbitrary bytes (cut UTF-8, stray '[' and '-'):
    // every call ends with an answer or InvalidMask, never a bad read.
    std::mt19937 rng(99);
    const char alphabet[] = "ab*?[]!-\xC3\xA9\xE4\xB8\xFF";
    for (int round = 0; round < 20000; ++round) {
        std::string mask, name;
        for (unsigned i = rng() % 8; i > 0; --i)
            mask += alphabet[rng() % (sizeof alphabet - 1)];
        for (unsigned i = rng() % 8; i > 0; --i)
            name += alphabet[rng() % (sizeof alphabet - 1)];
        try {
            (void)MatchesMask(name, mask);
        } catch (const InvalidMask& e) {
            ASSERT_GE(e.position(), 1);
            ASSERT_LE(e.position(), static_cast<int>(mask.size()));
        }
    }
}
