#pragma once
// Wildcard masks: '*' any run, '?' one whole UTF-8 character, [set] with
// ranges and a leading '!' for the complement, ASCII letters without regard
// to case, the whole name consumed. Matching runs in O(name x mask) at worst.

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace duplora {

// "'%s' is an invalid mask at (%d)" with the mask and the 1-based position.
class InvalidMask : public std::runtime_error {
public:
    InvalidMask(const std::string& mask, int position);
    const std::string& mask() const { return mask_; }
    int position() const { return position_; }

private:
    std::string mask_;
    int position_;
};

// Throws InvalidMask for an unclosed set, a range without a start or more
// than 30 '*'. The position is the 1-based byte offset of the '[' of an
// unclosed set, of the '-' that has no start, or of the 31st '*'.
// Inside a set: '*', '?' and '[' are members, a '-' just before ']' is a
// member, "[]" matches nothing and "[!]" any one character, a reversed range
// ("[z-a]") holds nothing. A '?' right after a '*' adds nothing ("*?" is "*", "*??" is "*?"). "*.*"
// matches only names with a dot (a caller that wants "every name" tests for it).
bool MatchesMask(std::string_view name, std::string_view mask);
// Checks a mask without matching anything (throws InvalidMask).
void ValidateMask(std::string_view mask);

// A mask read once and matched against many names, for loops over a whole
// folder tree. Same rules and errors as MatchesMask; cheap to copy.
class CompiledMask {
public:
    explicit CompiledMask(std::string_view mask); // throws InvalidMask
    bool Matches(std::string_view name) const;

    struct Program;

private:
    std::shared_ptr<const Program> program_;
};

} // namespace duplora
