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
// than 30 '*'.
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
