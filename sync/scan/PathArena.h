#pragma once
// Storage for many short strings that live until Clear(): paths are copied
// into 256 KiB blocks and handed out as string_views that stay valid (blocks
// never move). One plan side of 100,000 paths of 40 bytes costs 4 MB instead
// of 100,000 heap blocks with their headers.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace duplora {

class PathArena {
public:
    std::string_view Store(std::string_view text);
    void Clear();
    std::size_t BytesReserved() const;

private:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::size_t> blockSizes_;
    std::size_t used_ = 0; // bytes used in the last block
};

} // namespace duplora
