#include "sync/plan/SortList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace duplora {

int CompareKeysExact(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n != 0) {
        const int c = std::memcmp(a.data(), b.data(), n);
        if (c != 0)
            return c;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

namespace {
inline unsigned char FoldByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}
} // namespace

int CompareKeysFolded(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = FoldByte(static_cast<unsigned char>(a[i]));
        const unsigned char y = FoldByte(static_cast<unsigned char>(b[i]));
        if (x != y)
            return static_cast<int>(x) - static_cast<int>(y);
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::size_t KeyHash::operator()(std::string_view s) const {
    // FNV-1a over the bytes as the comparison sees them.
    std::uint64_t h = 1469598103934665603ULL;
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (fold && c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 32);
        h = (h ^ c) * 1099511628211ULL;
    }
    return static_cast<std::size_t>(h);
}

bool KeyEqual::operator()(std::string_view a, std::string_view b) const {
    return fold ? CompareKeysFolded(a, b) == 0 : a == b;
}

int TSortList::Compare(std::string_view a, std::string_view b) const {
    if (OnCompare)
        return OnCompare(a, b);
    return FoldCase ? CompareKeysFolded(a, b) : CompareKeysExact(a, b);
}

std::vector<TFileEntry>& TSortList::settled() const {
    if (sortedPrefix_ != items_.size()) {
        auto less = [this](const TFileEntry& x, const TFileEntry& y) {
            return Compare(x.RelPath, y.RelPath) < 0;
        };
        // Stable, so entries with equal keys keep their scan order.
        std::stable_sort(items_.begin() + static_cast<std::ptrdiff_t>(sortedPrefix_), items_.end(),
                         less);
        std::inplace_merge(items_.begin(),
                           items_.begin() + static_cast<std::ptrdiff_t>(sortedPrefix_),
                           items_.end(), less);
        if (Unique) {
            auto same = [this](const TFileEntry& x, const TFileEntry& y) {
                return Compare(x.RelPath, y.RelPath) == 0;
            };
            items_.erase(std::unique(items_.begin(), items_.end(), same), items_.end());
        }
        sortedPrefix_ = items_.size();
    }
    return items_;
}

int TSortList::Find(std::string_view key) const {
    const auto& items = settled();
    int low = 0;
    int high = static_cast<int>(items.size()) - 1;
    if (high < 0)
        return -1;
    for (;;) {
        const int mid = (low + high) / 2;
        const int c = Compare(key, items[static_cast<std::size_t>(mid)].RelPath);
        if (c == 0)
            return mid;
        if (c < 0) {
            if (low == mid)
                return ~mid;
            high = mid - 1;
        } else {
            if (high == mid)
                return ~(mid + 1);
            low = mid + 1;
        }
    }
}

int TSortList::Add(const TFileEntry& entry) {
    int at = Find(entry.RelPath);
    if (at >= 0 && Unique)
        return -1;
    if (at < 0)
        at = ~at;
    items_.insert(items_.begin() + at, entry);
    sortedPrefix_ = items_.size();
    return at;
}

void TSortList::Insert(int index, const TFileEntry& entry) {
    settled();
    if (index < 0 || index > Count())
        throw std::out_of_range("TSortList::Insert: index out of range");
    items_.insert(items_.begin() + index, entry);
    sortedPrefix_ = items_.size();
}

TFileEntry& TSortList::Items(int index) {
    return settled().at(static_cast<std::size_t>(index));
}

const TFileEntry& TSortList::Items(int index) const {
    return settled().at(static_cast<std::size_t>(index));
}

void TSortList::Clear() {
    items_.clear();
    items_.shrink_to_fit();
    sortedPrefix_ = 0;
}

void TSortList::Append(const TFileEntry& entry) {
    items_.push_back(entry);
}

void TSortList::Sort() {
    settled();
}

} // namespace duplora
