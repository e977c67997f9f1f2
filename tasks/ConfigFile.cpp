#include "tasks/ConfigFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace duplora {

namespace {

std::int32_t ReadInt32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendInt32(std::vector<std::uint8_t>& out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A header is taken only when it looks like one: a header version, a record
// size a real layout could have, and zeros in the padding. Checking the
// version alone would take almost every oldest-layout file for a header,
// because its first four bytes are the start of a task name ("Back" reads as
// 1801675074).
bool HasHeader(const std::uint8_t* data, std::size_t size) {
    if (ReadInt32(data) < kFirstHeaderVersion)
        return false;
    if (size < 8)
        return true; // version only: a header cut short, nothing follows
    const std::int32_t recordSize = ReadInt32(data + 4);
    if (recordSize < 1 || recordSize > kMaxStoredRecordSize)
        return false;
    const std::size_t padEnd = std::min(size, kConfigHeaderSize);
    return std::all_of(data + 8, data + padEnd, [](std::uint8_t b) { return b == 0; });
}

// Each task costs one TaskRecord (3458 bytes) in memory whatever the file
// holds, so a file of nothing but line breaks would ask for 3458 bytes per
// byte read. A genuine file stores at least 2095 bytes per task (the shortest
// record plus CR LF), so twice the file size plus 4 MiB (about 1200 tasks
// whose records were cut off entirely) never bounds a real configuration.
std::size_t TaskBudget(std::size_t size) {
    return (2 * size + (std::size_t{4} << 20)) / TaskRecord::kSize;
}

// The names text split into lines like SplitLines (CR LF, lone CR or lone LF
// end a line; a last line without an ending counts), stopping at `limit`
// names.
std::vector<std::string> SplitNames(std::string_view text, std::size_t limit) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size() && lines.size() < limit; ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size() && lines.size() < limit)
        lines.emplace_back(text.substr(start));
    return lines;
}

std::uint32_t ReadUint(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

void AppendUint(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The extension block at `pos`, if one is there (ConfigFile.h).
void ParseExtension(const std::uint8_t* data, std::size_t size, std::size_t pos, TaskList& list) {
    if (size - pos < 16 || std::memcmp(data + pos, kExtensionMagic, 8) != 0 ||
        ReadUint(data + pos + 8, 4) != kExtensionVersion)
        return;
    const std::uint32_t count = ReadUint(data + pos + 12, 4);
    pos += 16;
    auto& tasks = list.tasks();
    std::vector<TaskRecord::Extension> found(tasks.size());
    for (std::uint32_t i = 0; i < count; ++i) {
        if (size - pos < 6)
            break;
        const std::uint32_t task = ReadUint(data + pos, 4);
        const std::size_t nameSize = ReadUint(data + pos + 4, 2);
        pos += 6;
        if (task >= tasks.size() || size - pos < nameSize + 4)
            break;
        std::string name(reinterpret_cast<const char*>(data + pos), nameSize);
        pos += nameSize;
        const std::size_t valueSize = ReadUint(data + pos, 4);
        pos += 4;
        if (size - pos < valueSize)
            break;
        found[task][std::move(name)] =
            std::string(reinterpret_cast<const char*>(data + pos), valueSize);
        pos += valueSize;
    }
    for (std::size_t t = 0; t < tasks.size(); ++t) {
        if (found[t].empty())
            continue;
        TaskRecord& record = tasks[t].record;
        TaskRecord::Extension known = std::move(found[t]);
        // A known option goes through its setter, which checks it (a
        // versioning folder with a NUL or over the limit is cut like any).
        const auto versions = known.find("versions_folder");
        std::optional<std::string> folder;
        if (versions != known.end()) {
            folder = std::move(versions->second);
            known.erase(versions);
        }
        record.set_extension(std::move(known));
        if (folder && folder->size() > TaskRecord::kVersionsFolderInRecord)
            record.set_versions_folder(*folder);
    }
}

void AppendExtension(std::vector<std::uint8_t>& out, const TaskList& list) {
    std::uint32_t count = 0;
    for (const auto& t : list.tasks())
        count += static_cast<std::uint32_t>(t.record.extension().size());
    if (count == 0)
        return;
    out.insert(out.end(), std::begin(kExtensionMagic), std::end(kExtensionMagic));
    AppendUint(out, kExtensionVersion, 4);
    AppendUint(out, count, 4);
    std::uint32_t index = 0;
    for (const auto& t : list.tasks()) {
        for (const auto& [name, value] : t.record.extension()) {
            AppendUint(out, index, 4);
            AppendUint(out, static_cast<std::uint32_t>(name.size()), 2);
            out.insert(out.end(), name.begin(), name.end());
            AppendUint(out, static_cast<std::uint32_t>(value.size()), 4);
            out.insert(out.end(), value.begin(), value.end());
        }
        ++index;
    }
}

} // namespace

void ParseConfiguration(const std::uint8_t* data, std::size_t size, TaskList& list) {
    list.clear();
    list.setChanged(false);
    if (data == nullptr || size < 4)
        return;

    std::size_t pos = 0;
    std::size_t recordSize = TaskRecord::kOldSize;
    if (HasHeader(data, size)) {
        if (size >= 8)
            recordSize = static_cast<std::size_t>(ReadInt32(data + 4));
        pos = kConfigHeaderSize;
    }
    const std::size_t readSize = std::min(recordSize, TaskRecord::kSize);

    // Names text: up to the first NUL, or to the end when there is none.
    std::vector<std::string> names;
    if (pos < size) {
        const auto* begin = data + pos;
        const auto* nul = std::find(begin, data + size, std::uint8_t{0});
        names = SplitNames(std::string_view(reinterpret_cast<const char*>(begin),
                                            static_cast<std::size_t>(nul - begin)),
                           TaskBudget(size));
        pos = nul == data + size ? size : static_cast<std::size_t>(nul - data) + 1;
    }

    auto& tasks = list.tasks();
    tasks.reserve(names.size());
    for (auto& name : names) {
        TaskRecord record = TaskRecord::MakeForLoading();
        const std::size_t avail = pos < size ? size - pos : 0;
        record.overlay(data + std::min(pos, size), std::min(readSize, avail));
        pos = std::min(size, pos + recordSize); // the surplus of a longer record is skipped
        list.append(std::move(name), record);
    }

    if (pos >= size)
        return;
    std::uint8_t countBytes[4] = {0, 0, 0, 0};
    std::memcpy(countBytes, data + pos, std::min<std::size_t>(4, size - pos));
    pos = std::min(size, pos + 4);
    const std::int32_t count = ReadInt32(countBytes);
    if (count < 0)
        return;
    // Only records that have at least one byte in the file are made; a count
    // beyond them is damage, not a request for millions of empty schedules.
    const std::size_t present = (size - pos + ScheduleRecord::kSize - 1) / ScheduleRecord::kSize;
    const std::size_t n = std::min(static_cast<std::size_t>(count), present);
    auto& schedules = list.schedules();
    schedules.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        ScheduleRecord s; // zero-filled where the file is cut short
        std::memcpy(s.bytes.data(), data + pos, std::min(ScheduleRecord::kSize, size - pos));
        pos = std::min(size, pos + ScheduleRecord::kSize);
        schedules.push_back(s);
    }
    if (static_cast<std::size_t>(count) == n && pos < size)
        ParseExtension(data, size, pos, list);
}

std::vector<std::uint8_t> SerializeConfiguration(const TaskList& list) {
    std::size_t namesSize = 1;
    for (const auto& t : list.tasks())
        namesSize += t.name.size() + 2;
    std::vector<std::uint8_t> out;
    out.reserve(kConfigHeaderSize + namesSize + list.size() * TaskRecord::kSize + 4 +
                list.schedules().size() * ScheduleRecord::kSize);

    AppendInt32(out, kConfigLayoutVersion);
    AppendInt32(out, static_cast<std::int32_t>(TaskRecord::kSize));
    out.resize(kConfigHeaderSize, 0);

    for (const auto& t : list.tasks()) {
        for (char c : t.name)
            out.push_back((c == '\r' || c == '\n' || c == '\0') ? std::uint8_t{' '}
                                                                : static_cast<std::uint8_t>(c));
        out.push_back('\r');
        out.push_back('\n');
    }
    out.push_back(0);

    for (const auto& t : list.tasks())
        out.insert(out.end(), t.record.bytes().begin(), t.record.bytes().end());

    AppendInt32(out, static_cast<std::int32_t>(list.schedules().size()));
    for (const auto& s : list.schedules())
        out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    AppendExtension(out, list);
    return out;
}

LoadStatus LoadConfiguration(const std::string& path, TaskList& list, std::string& error) {
    list.clear();
    list.setChanged(false);
    std::vector<std::uint8_t> data;
    switch (ReadWholeFile(path, data)) {
    case ReadStatus::Missing:
        return LoadStatus::Missing;
    case ReadStatus::Failed:
        error = "Cannot open file " + path;
        return LoadStatus::CannotOpen;
    case ReadStatus::Ok:
        break;
    }
    if (data.size() < 4)
        return LoadStatus::Missing;
    ParseConfiguration(data.data(), data.size(), list);
    return LoadStatus::Loaded;
}

bool SaveConfiguration(const std::string& path, TaskList& list, std::string& error,
                       const FileOps& ops) {
    const std::vector<std::uint8_t> image = SerializeConfiguration(list);
    if (!ReplaceFileContents(path, image.data(), image.size(), ops)) {
        error = "Cannot create file " + path;
        return false;
    }
    list.setChanged(false);
    return true;
}

} // namespace duplora
