#include "sync/scan/PathArena.h"

#include <cstring>

namespace duplora {

std::string_view PathArena::Store(std::string_view text) {
    if (text.empty())
        return {};
    if (blocks_.empty() || used_ + text.size() > blockSizes_.back()) {
        // A path longer than a block gets a block of its own size.
        const std::size_t size = text.size() > kBlockSize ? text.size() : kBlockSize;
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        blockSizes_.push_back(size);
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
}

void PathArena::Clear() {
    blocks_.clear();
    blockSizes_.clear();
    used_ = 0;
}

std::size_t PathArena::BytesReserved() const {
    std::size_t total = 0;
    for (std::size_t s : blockSizes_)
        total += s;
    return total;
}

} // namespace duplora
