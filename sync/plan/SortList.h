#pragma once
// The sorted list of one side's file entries, searched by relative path.
//
// Entries are appended in scan order with Append() and sorted once with
// Sort() (O(n log n)); inserting one at a time into a sorted vector would be
// O(n^2) for 100,000 files in the random order readdir gives. Add() keeps the
// list sorted for the few callers that insert single entries.

#include "sync/plan/FileEntry.h"

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace duplora {

// Negative, zero or positive like strcmp: Text1 is the key sought.
using TSortListCompareProc = std::function<int(std::string_view Text1, std::string_view Text2)>;

// Byte for byte (unsigned bytes; a key that is a prefix of another sorts first).
int CompareKeysExact(std::string_view a, std::string_view b);
// Only a-z folded to A-Z, every other byte unsigned as it is: the comparison
// for roots on file systems that ignore case.
int CompareKeysFolded(std::string_view a, std::string_view b);

// Hash and equality that agree with the key comparison, exact or folded, for
// hashed lookups of plan paths (folders, preview nodes).
struct KeyHash {
    bool fold = false;
    std::size_t operator()(std::string_view s) const;
};
struct KeyEqual {
    bool fold = false;
    bool operator()(std::string_view a, std::string_view b) const;
};

class TSortList {
public:
    // Equal keys: Add() leaves the list unchanged when set.
    bool Unique = false;
    // Fold a-z when comparing (used when no OnCompare is set).
    bool FoldCase = false;
    TSortListCompareProc OnCompare;

    int Count() const { return static_cast<int>(items_.size()); }

    // Index of an entry with an equal key, or ~(insertion index) when absent:
    // -1 for an empty list, ~n for a key after all n entries.
    int Find(std::string_view key) const;
    // Inserts at the place Find() gives (before an equal entry); returns the
    // index, or -1 when Unique is set and the key is present (nothing added).
    int Add(const TFileEntry& entry);
    // Inserts at `index` without comparing.
    void Insert(int index, const TFileEntry& entry);
    TFileEntry& Items(int index);
    const TFileEntry& Items(int index) const;
    void Clear();

    // Bulk filling: Append in any order, then Sort() once. Find/Add/Items
    // sort pending entries first, so a forgotten Sort() is slow, never wrong.
    void Append(const TFileEntry& entry);
    void Sort();

    int Compare(std::string_view a, std::string_view b) const;

    std::vector<TFileEntry>::iterator begin() { return settled().begin(); }
    std::vector<TFileEntry>::iterator end() { return settled().end(); }

private:
    std::vector<TFileEntry>& settled() const;

    mutable std::vector<TFileEntry> items_;
    mutable std::size_t sortedPrefix_ = 0; // items_[0, sortedPrefix_) is in order
};

} // namespace duplora
