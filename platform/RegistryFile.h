#pragma once
// A read-only registry kept in text files of the .reg format.
//
// Files:
//   HKEY_LOCAL_MACHINE (and the other machine-wide roots HKEY_CLASSES_ROOT,
//   HKEY_CURRENT_CONFIG, HKEY_DYN_DATA)  /etc/duplora/registry.reg
//   HKEY_CURRENT_USER  $XDG_CONFIG_HOME/duplora/registry.reg
//                      (XDG_CONFIG_HOME defaults to ~/.config)
//   When DUPLORA_REGISTRY_DIR is set, every root is read from the one file
//   $DUPLORA_REGISTRY_DIR/registry.reg, whose sections name their roots.
// A file only answers for keys under the root it is read for, so the user
// file cannot stand in for machine keys or the other way round.
//
// Format understood:
//   first non-blank line "Windows Registry Editor Version 5.00" or "REGEDIT4"
//   [HKEY_LOCAL_MACHINE\Software\Duplora]   a key (full path; HKLM, HKCU,
//                                           HKCR, HKCC abbreviate the roots)
//   [-HKEY_...\Key]                         removes that key and its sub-keys
//   "Name"=dword:0000000a                   a 32-bit value (1 to 8 hex digits)
//   @=dword:...                             the key's default value (name "")
//   "Name"="text", "Name"=hex(7):..., ...   other kinds: read as no integer
//   "Name"=-                                removes the value
//   lines starting with ';' are comments; a line ending in '\' goes on in the
//   next line (long hex values). UTF-8 (with or without a byte-order mark) or
//   UTF-16LE with its byte-order mark, as the registry editor writes it.
// Key and value names compare without regard to ASCII case. A file that
// breaks any of these rules answers nothing at all: a half-understood file
// is never trusted. Nothing here ever writes.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace duplora {

class RegistryFile {
public:
    // Parses the text of a .reg file; nullopt when it breaks the format
    // (`error`, when given, then says which line and why).
    static std::optional<RegistryFile> Parse(std::string_view text, std::string* error = nullptr);
    // Reads and parses a file; nullopt when it is missing, unreadable or
    // not in the format.
    static std::optional<RegistryFile> Load(const std::string& path, std::string* error = nullptr);

    // The dword at a full key path ("HKEY_LOCAL_MACHINE\Software\Duplora");
    // nullopt when the key or the value is missing or the value is of
    // another kind.
    std::optional<std::uint32_t> ReadDword(std::string_view keyPath,
                                           std::string_view valueName) const;
    bool HasKey(std::string_view keyPath) const;

    // A key path in the form used for lookups: components lower-cased,
    // joined by '\', empty components dropped, the root in its full name.
    static std::string NormalizeKey(std::string_view keyPath);

private:
    struct Value {
        bool isDword = false;
        std::uint32_t dword = 0;
    };
    // normalized key path -> (lower-cased value name -> value)
    std::map<std::string, std::map<std::string, Value>> keys_;
};

// The file that holds the keys of a root ("HKEY_LOCAL_MACHINE", ...; case
// does not matter), following the rules at the top of this file.
std::string RegistryFileForRoot(std::string_view root);

// The registry integer read: splits off the root (the first component when it
// names one, otherwise HKEY_CURRENT_USER is used for the whole path), reads
// the root's file and yields the dword as a signed 32-bit value; 0 when
// anything is missing, of another kind or unreadable.
std::int32_t ReadRegistryDword(std::string_view keyPath, std::string_view valueName);

} // namespace duplora
