#pragma once
// The record of a task's last run, one file per task outside both roots:
//
//   "DUPLORAM" u32 version (1), i64 time the run ended, u8 fold
//   u32 length + bytes: task name, host root, mirror root
//   u64 count, then per file in ascending key order:
//     u64 key, i64 size, i32 host age, u32 host tag, i32 mirror age,
//     u32 mirror tag, u32 length + bytes: the path below the roots
//   u64 check value of every byte before it
//
// all little-endian. It is written to a temporary name beside it, flushed to
// disk and renamed over the old one, so a crash leaves the old record or the
// new one, never a part. A plain file rather than a database: the record is
// read whole and written whole once per run, with nothing to query in
// between, and a rename is as crash-safe as a database's journal for that.
//
// In memory a file costs 32 bytes: the path is kept only as its 64-bit key,
// which the comparison looks up in O(log n). Two paths of one record with the
// same key are both left out when it is written, so a lookup never finds
// another file's entry; such a file counts as never seen.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// The path's key; letters a-z and A-Z are one when the run folds case.
std::uint64_t PathKey(std::string_view rel, bool foldCase);

struct RememberedFile {
    std::uint64_t Key = 0;
    std::int64_t Size = 0;
    std::int32_t HostAge = 0;
    std::uint32_t HostTag = 0;
    std::int32_t MirrorAge = 0;
    std::uint32_t MirrorTag = 0;
};
static_assert(sizeof(RememberedFile) == 32);

// Whose record it is: a record made for another task name, other roots or
// another case rule is never used.
struct MemoryOwner {
    std::string TaskName;
    std::string HostRoot;
    std::string MirrorRoot;
    bool FoldCase = false;
};

// The record's file for a task, named by a key of the owner, so a renamed
// task or changed roots look for another file.
std::string MemoryFileOf(const std::string& folder, const MemoryOwner& owner);

enum class MemoryRead { Ok, Missing, Damaged, Foreign };

struct LastRun {
    std::int64_t Time = 0;
    std::vector<RememberedFile> Files; // ascending Key

    MemoryRead Read(const std::string& path, const MemoryOwner& owner);
    const RememberedFile* Find(std::uint64_t key) const;
};

// One file of a record to be written: its key, and two numbers that the
// writer's `resolve` turns into its values and path (16 bytes a file, so a
// run of 100,000 files in step needs no copy of their paths to write them).
struct MemoryRef {
    std::uint64_t Key = 0;
    std::uint32_t A = 0;
    std::uint32_t B = 0;
};
using ResolveRef =
    std::function<void(const MemoryRef& ref, RememberedFile& values, std::string_view& path)>;

// Sorts `refs` by key, leaves out keys met more than once and writes the
// record as a whole (see the top). False with `error` (the system's text)
// when it could not; the old record then stays as it was.
bool WriteLastRun(const std::string& path, const MemoryOwner& owner, std::int64_t time,
                  std::vector<MemoryRef>& refs, const ResolveRef& resolve, std::string& error);

// Calls `each(path, values)` for every file of the record at `path`, in
// order; false when the record is not usable (as Read would say).
bool ReadLastRunPaths(const std::string& path, const MemoryOwner& owner,
                      const std::function<void(std::string_view, const RememberedFile&)>& each);

} // namespace duplora
