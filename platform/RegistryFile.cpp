// The .reg text parser behind the registry integer read. See the header for
// the files and the format.

#include "platform/RegistryFile.h"
#include "platform/Ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace duplora {

namespace {

// Registry files are a few lines; anything past 16 MiB is not one of ours and
// is refused rather than read into memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(AsciiLower(c) - 'a' + 10);
}

// Full root names, lower-cased, with the abbreviations the registry editor
// also accepts.
constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kRoots{{
    {"hkey_local_machine", "hkey_local_machine"},
    {"hklm", "hkey_local_machine"},
    {"hkey_current_user", "hkey_current_user"},
    {"hkcu", "hkey_current_user"},
    {"hkey_classes_root", "hkey_classes_root"},
    {"hkcr", "hkey_classes_root"},
    {"hkey_current_config", "hkey_current_config"},
    {"hkcc", "hkey_current_config"},
    {"hkey_users", "hkey_users"},
    {"hku", "hkey_users"},
    {"hkey_dyn_data", "hkey_dyn_data"},
}};

std::string_view RootName(std::string_view lowered) {
    for (const auto& [alias, full] : kRoots)
        if (alias == lowered)
            return full;
    return {};
}

// UTF-16LE (after its byte-order mark) to UTF-8; a lone surrogate becomes
// U+FFFD, an odd last byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    auto unitAt = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unitAt(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// Reads a quoted text starting at s[0] == '"'. On success `out` holds the
// unescaped text and `s` is left after the closing quote.
bool ReadQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"')
        return false;
    out.clear();
    std::size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return false; // no closing quote
}

struct ParsedData {
    enum Kind { Dword, Other, Remove } kind = Other;
    std::uint32_t dword = 0;
};

// "hex:..", "hex(N):.." with comma-separated byte pairs. A hex(4) value of
// four bytes is a dword written byte-wise (little-endian).
bool ParseHexData(std::string_view data, ParsedData& out) {
    std::string_view rest = data.substr(3); // after "hex"
    int type = 3;
    if (!rest.empty() && rest.front() == '(') {
        const std::size_t close = rest.find(')');
        if (close == std::string_view::npos || close == 1 || close > 9)
            return false;
        unsigned t = 0;
        for (char c : rest.substr(1, close - 1)) {
            if (!IsHex(c))
                return false;
            t = t * 16 + HexValue(c);
        }
        type = static_cast<int>(t);
        rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':')
        return false;
    rest.remove_prefix(1);
    std::vector<unsigned> bytes;
    std::size_t i = 0;
    rest = Trim(rest);
    while (i < rest.size()) {
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
            ++i;
        if (i + 1 >= rest.size() || !IsHex(rest[i]) || !IsHex(rest[i + 1]))
            return false;
        bytes.push_back(HexValue(rest[i]) * 16 + HexValue(rest[i + 1]));
        i += 2;
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
            ++i;
        if (i < rest.size()) {
            if (rest[i] != ',')
                return false;
            ++i;
            if (i == rest.size())
                return false; // a trailing comma with nothing after it
        }
    }
    out = {};
    if (type == 4 && bytes.size() == 4) {
        out.kind = ParsedData::Dword;
        out.dword =
            bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    return true;
}

bool ParseData(std::string_view data, ParsedData& out) {
    data = Trim(data);
    out = {};
    if (data == "-") {
        out.kind = ParsedData::Remove;
        return true;
    }
    if (!data.empty() && data.front() == '"') {
        std::string text;
        if (!ReadQuoted(data, text))
            return false;
        return Trim(data).empty();
    }
    const std::string lowered = AsciiLower(data.substr(0, 6));
    if (lowered == "dword:") {
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        std::uint32_t v = 0;
        for (char c : digits) {
            if (!IsHex(c))
                return false;
            v = (v << 4) | HexValue(c);
        }
        out.kind = ParsedData::Dword;
        out.dword = v;
        return true;
    }
    if (lowered.rfind("hex", 0) == 0)
        return ParseHexData(data, out);
    return false;
}

// The keys below `key`: every "key\\..." sorts in [key + '\\', key + ']'), since
// ']' is the byte after the backslash. Siblings such as "key-old" or
// "key.bak" sort between "key" and its sub-keys, so a walk from "key" that
// stops at the first key without the prefix would miss the sub-keys.
template <typename Map> auto SubKeyRange(Map& keys, const std::string& key) {
    return std::make_pair(keys.lower_bound(key + '\\'), keys.lower_bound(key + ']'));
}

bool Fail(std::string* error, std::size_t line, std::string_view why) {
    if (error)
        *error = "line " + std::to_string(line) + ": " + std::string(why);
    return false;
}

} // namespace

std::string RegistryFile::NormalizeKey(std::string_view keyPath) {
    std::string out;
    bool first = true;
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        std::size_t end = keyPath.find('\\', start);
        if (end == std::string_view::npos)
            end = keyPath.size();
        const std::string_view part = keyPath.substr(start, end - start);
        if (!part.empty()) {
            std::string lowered = AsciiLower(part);
            if (first) {
                const std::string_view root = RootName(lowered);
                if (!root.empty())
                    lowered = std::string(root);
            } else {
                out += '\\';
            }
            out += lowered;
            first = false;
        }
        start = end + 1;
    }
    return out;
}

std::optional<RegistryFile> RegistryFile::Parse(std::string_view text, std::string* error) {
    std::string converted;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        converted = Utf16LeToUtf8(text.substr(2));
        text = converted;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }

    RegistryFile file;
    bool haveHeader = false;
    bool inSection = false;
    bool sectionRemoved = false;
    std::string section;
    std::string logical; // a line with its continuations joined
    std::size_t lineNo = 0;
    std::size_t logicalStart = 0;

    auto handle = [&](std::string_view line, std::size_t at) -> bool {
        line = Trim(line);
        if (line.empty())
            return true;
        if (!haveHeader) {
            if (line != kHeader5 && line != kHeader4)
                return Fail(error, at, "not a registry file header");
            haveHeader = true;
            return true;
        }
        if (line.front() == ';')
            return true;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3)
                return Fail(error, at, "unclosed key");
            std::string_view path = line.substr(1, line.size() - 2);
            sectionRemoved = path.front() == '-';
            if (sectionRemoved)
                path.remove_prefix(1);
            section = NormalizeKey(path);
            const std::string_view root = std::string_view(section).substr(0, section.find('\\'));
            if (section.empty() || RootName(root).empty())
                return Fail(error, at, "key without a known root");
            inSection = true;
            if (sectionRemoved) {
                // The key and every key below it.
                file.keys_.erase(section);
                const auto [from, to] = SubKeyRange(file.keys_, section);
                file.keys_.erase(from, to);
            } else {
                file.keys_[section];
            }
            return true;
        }
        // A value line: "Name"=data or @=data.
        std::string name;
        std::string_view rest = line;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (!ReadQuoted(rest, name)) {
            return Fail(error, at, "unreadable value name");
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != '=')
            return Fail(error, at, "missing '='");
        rest.remove_prefix(1);
        ParsedData data;
        if (!ParseData(rest, data))
            return Fail(error, at, "unreadable value data");
        if (!inSection)
            return Fail(error, at, "value outside any key");
        if (sectionRemoved)
            return true; // values of a removed key have nowhere to go
        auto& values = file.keys_[section];
        const std::string key = AsciiLower(name);
        if (data.kind == ParsedData::Remove)
            values.erase(key);
        else
            values[key] = Value{data.kind == ParsedData::Dword, data.dword};
        return true;
    };

    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        ++lineNo;
        if (logical.empty())
            logicalStart = lineNo;
        const std::string_view trimmed = Trim(line);
        const bool isComment = logical.empty() && !trimmed.empty() && trimmed.front() == ';';
        if (!isComment && !trimmed.empty() && trimmed.back() == '\\' && haveHeader &&
            trimmed.front() != '[') {
            // Continued in the next line.
            logical.append(trimmed.substr(0, trimmed.size() - 1));
        } else {
            if (!logical.empty()) {
                logical.append(trimmed);
                if (!handle(logical, logicalStart))
                    return std::nullopt;
                logical.clear();
            } else if (!handle(line, lineNo)) {
                return std::nullopt;
            }
        }
        if (end == text.size())
            break;
        pos = end + 1;
    }
    if (!logical.empty()) {
        Fail(error, logicalStart, "continued line without an end");
        return std::nullopt;
    }
    if (!haveHeader) {
        Fail(error, lineNo, "empty file");
        return std::nullopt;
    }
    return file;
}

std::optional<RegistryFile> RegistryFile::Load(const std::string& path, std::string* error) {
    // O_NONBLOCK and regular files only: the file is read before any window
    // exists, and a pipe in its place would hold up the start until
    // something wrote to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error)
            *error = "cannot open " + path;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
        ::close(fd);
        if (error)
            *error = "not a registry file or too large: " + path;
        return std::nullopt;
    }
    std::string text;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
            ::close(fd);
            if (error)
                *error = "cannot read " + path;
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Parse(text, error);
}

std::optional<std::uint32_t> RegistryFile::ReadDword(std::string_view keyPath,
                                                     std::string_view valueName) const {
    const auto key = keys_.find(NormalizeKey(keyPath));
    if (key == keys_.end())
        return std::nullopt;
    const auto value = key->second.find(AsciiLower(valueName));
    if (value == key->second.end() || !value->second.isDword)
        return std::nullopt;
    return value->second.dword;
}

bool RegistryFile::HasKey(std::string_view keyPath) const {
    const std::string key = NormalizeKey(keyPath);
    if (key.empty())
        return false;
    // A key written only as the parent of another key exists as well.
    if (keys_.count(key) != 0)
        return true;
    const auto [from, to] = SubKeyRange(keys_, key);
    return from != to;
}

std::string RegistryFileForRoot(std::string_view root) {
    if (const char* dir = std::getenv("DUPLORA_REGISTRY_DIR"); dir && *dir)
        return std::string(dir) + "/registry.reg";
    if (RootName(AsciiLower(root)) == "hkey_current_user") {
        // XDG_CONFIG_HOME counts only as an absolute path.
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
            return std::string(xdg) + "/duplora/registry.reg";
        if (const char* home = std::getenv("HOME"); home && *home)
            return std::string(home) + "/.config/duplora/registry.reg";
        return {};
    }
    return "/etc/duplora/registry.reg";
}

std::int32_t ReadRegistryDword(std::string_view keyPath, std::string_view valueName) {
    // The first component names the root when it is one of the five roots a
    // lookup may start from; otherwise the whole path lies below the current
    // user's root.
    static constexpr std::array<std::string_view, 5> kLookupRoots{
        "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_CONFIG",
        "HKEY_DYN_DATA"};
    std::string root = "HKEY_CURRENT_USER";
    std::string_view rest = keyPath;
    const std::size_t slash = keyPath.find('\\');
    const std::string_view first =
        (slash == std::string_view::npos || slash == 0) ? keyPath : keyPath.substr(0, slash);
    std::string upper(first);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (std::string_view r : kLookupRoots) {
        if (upper == r) {
            root = upper;
            rest = slash == std::string_view::npos ? std::string_view{} : keyPath.substr(slash + 1);
            break;
        }
    }
    const std::string path = RegistryFileForRoot(root);
    if (path.empty())
        return 0;
    const std::optional<RegistryFile> file = RegistryFile::Load(path);
    if (!file)
        return 0;
    const std::optional<std::uint32_t> value =
        file->ReadDword(root + "\\" + std::string(rest), valueName);
    return value ? static_cast<std::int32_t>(*value) : 0;
}

} // namespace duplora
