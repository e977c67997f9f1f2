#pragma once
// Small shared helpers: path pieces, path macros, UTF-16 text, file helpers,
// the short size text and the registry integer read. Paths are native byte
// paths (UTF-8 on Linux); the UTF-16 helpers exist for UTF-16 text only.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace duplora {

// Removes one trailing '/' from a path longer than one character.
std::string RemoveTrailingBackslash(std::string_view path);

// Expands "%DATE%" (any case) to today's yyyymmdd and %NAME% environment
// references, in place, left to right. A lone '%' is removed, "%%" leaves
// nothing, an unknown name stops the expansion (it and the rest stay as
// written), and so does a '%' right where "%%" or an empty value left
// nothing. A value is inserted as it is (at most 259 bytes, cut on a
// character boundary) and never expanded again. The clock and the lookup are
// injectable for tests.
struct MacroEnvironment {
    std::function<std::tm()> localNow;              // default: localtime_r(now)
    std::function<const char*(const char*)> lookup; // default: std::getenv
};
void ExpandPathMacros(std::string& path, const MacroEnvironment& env = {});

// UTF-16 text helpers (each code unit on its own, surrogates as 3 bytes).
std::string WideToUtf8(std::u16string_view text, std::size_t limit = 1000000000);
std::u16string Utf8ToWide(std::string_view text);
std::u16string WideCopy(std::u16string_view text, std::size_t start, std::size_t count);

// File and folder helpers.
bool FolderExists(const std::string& path);
// Creates the folder and its missing parents. Throws std::runtime_error
// "Unable to create directory" for an empty path.
bool ForceFolderPath(const std::string& path);
std::int64_t WideFileSize(const std::string& path); // -1 when it cannot be opened
// Sets the last-write time from a packed local date-time (see PackAge).
void SetFileStamp(const std::string& path, std::int32_t stamp);

// Packed local date-time with 2-second resolution: high 16 bits the date
// (year-1980 << 9 | month << 5 | day), low 16 bits the time
// (hour << 11 | minute << 5 | second / 2). Clamped to 1980-01-01 00:00:00 and
// 2107-12-31 23:59:58.
std::int32_t PackAge(std::time_t t);
std::int32_t PackAgeTm(const std::tm& local);
// The packed value as a date-time double (days since 1899-12-30).
double AgeToDateTime(std::int32_t age);
// Unpacked to a time_t, in local time.
std::time_t AgeToTime(std::int32_t age);

// Opens a file stream. Modes: "create" (read and write, created or
// truncated; an existing file first gets owner write permission so it can be
// replaced), "read", "write" (created or truncated), "readwrite" (must
// exist), "append", or the stdio spellings "rb", "wb", "w+b", "r+b", "ab".
// Writing modes never follow a link in the last component. Returns null when
// the file cannot be opened, is not a regular file (a folder, a pipe, a
// device), or the mode is unknown.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;
FileStream OpenWideFile(const std::string& path, std::string_view mode);

// Wildcard masks (one shared matcher; see WildMask.h for the rules).
bool MatchesAnyMask(std::string_view name, const std::vector<std::string>& masks);

std::string ReplaceFirst(std::string text, std::string_view old, std::string_view replacement);
std::string ShortSizeText(std::int64_t size);
// "1,204": a count with its thousands grouped, as all three tables write it.
std::string GroupThousands(std::int64_t n);

// Reads a dword from the .reg files that stand in for the registry; 0 when
// anything is missing or unreadable.
std::int32_t ReadRegistryInteger(std::string_view keyPath, std::string_view valueName);

} // namespace duplora
