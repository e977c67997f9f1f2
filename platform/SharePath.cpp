#include "platform/SharePath.h"

#include "platform/Ascii.h"

#include <string_view>
#include <vector>

namespace duplora {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// False on a broken escape or one that decodes to NUL or '/' (a name part
// must stay one name).
bool Unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = HexValue(in[i + 1]);
        const int lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        const char c = static_cast<char>(hi * 16 + lo);
        if (c == '\0' || c == '/')
            return false;
        out += c;
        i += 2;
    }
    return true;
}

std::string Escape(std::string_view in) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == sep) {
            if (i > start)
                parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return AsciiEqualNoCase(a, b);
}

bool ValidServer(std::string_view server) {
    if (server.empty() || server.front() == ':')
        return false;
    for (char c : server)
        if (c == '@' || c == '\\' || c == '/' || c == '?' || c == '#' || c == ';' || c == ' ' ||
            static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

} // namespace

std::string SharePath::RemoteName() const {
    return "//" + server + "/" + share;
}

std::string SharePath::Uri() const {
    // The server part keeps ':' (port) and brackets (IPv6) as they are.
    return "smb://" + server + "/" + Escape(share);
}

std::string SharePath::LocalPath(const std::string& mountPath) const {
    if (rest.empty())
        return mountPath;
    return mountPath + "/" + rest;
}

ShareForm ParseSharePath(const std::string& root, SharePath& out) {
    std::string_view body;
    std::string unc; // a backslash root with '/' made '\' too: Windows takes both
    char sep = '/';
    bool escaped = false;
    if (root.rfind("smb://", 0) == 0 || root.rfind("SMB://", 0) == 0) {
        body = std::string_view(root).substr(6);
        escaped = true;
    } else if (root.size() > 2 && root[0] == '/' && root[1] == '/' && root[2] != '/') {
        body = std::string_view(root).substr(2);
    } else if (root.size() > 2 && root[0] == '\\' && root[1] == '\\' && root[2] != '\\') {
        unc = root.substr(2);
        for (char& c : unc)
            if (c == '/')
                c = '\\';
        body = unc;
        sep = '\\';
    } else {
        return ShareForm::NotShare;
    }
    // A URI may not carry a query or fragment; a UNC name may hold '?' or
    // '#' as ordinary characters of a file name below the share.
    if (escaped && body.find_first_of("?#") != std::string_view::npos)
        return ShareForm::Invalid;
    const std::size_t firstSep = body.find(sep);
    if (firstSep == 0 || firstSep == std::string_view::npos)
        return ShareForm::Invalid;
    SharePath p;
    p.server = std::string(body.substr(0, firstSep));
    if (!ValidServer(p.server))
        return ShareForm::Invalid;
    const std::vector<std::string_view> parts = Split(body.substr(firstSep + 1), sep);
    if (parts.empty())
        return ShareForm::Invalid;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string name;
        if (escaped) {
            if (!Unescape(parts[i], name))
                return ShareForm::Invalid;
        } else {
            name = std::string(parts[i]);
        }
        if (name == "." || name == ".." || name.find('/') != std::string::npos)
            return ShareForm::Invalid;
        if (i == 0) {
            p.share = name;
        } else {
            if (!p.rest.empty())
                p.rest += '/';
            p.rest += name;
        }
    }
    out = std::move(p);
    return ShareForm::Share;
}

bool SameShare(const SharePath& a, const SharePath& b) {
    return EqualNoCase(a.server, b.server) && EqualNoCase(a.share, b.share);
}

} // namespace duplora
