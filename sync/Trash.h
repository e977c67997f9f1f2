#pragma once
// The desktop's trash in the freedesktop.org Trash layout,
// so that a file manager lists the files a run put there and restores them.
//
// A file on the device of the home trash ($XDG_DATA_HOME/Trash, by default
// ~/.local/share/Trash) goes there; a file on another volume goes to the
// trash at the top of that volume: $topdir/.Trash/$uid when $topdir/.Trash is
// a real folder with the sticky bit, else $topdir/.Trash-$uid (created 0700
// when missing, refused when it is a link or not ours). Each file gets
// info/NAME.trashinfo first (created exclusively, which reserves NAME), then
// is renamed to files/NAME. A file is never copied across volumes: where no
// trash on its own volume can be had, it stays.

#include "sync/BelowRoot.h"
#include "sync/SetAside.h"

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

namespace duplora {

// The Path= value: every byte but letters, digits, "-_.!~*'()" and '/' as
// %XX (upper-case hex), so any name (spaces, '%', a line break, bytes that
// are not UTF-8) survives the key file.
std::string TrashPathEncode(std::string_view path);
// DeletionDate=: local time "YYYY-MM-DDThh:mm:ss".
std::string TrashDateText(std::time_t when);

// Trash folders a scan of a Trash task leaves out, so that a run never
// synchronises (or deletes) what it put in the trash: a volume's ".Trash" and
// ".Trash-UID" by name, and the home trash ($XDG_DATA_HOME/Trash, "" when
// neither XDG_DATA_HOME nor HOME is a full path) by identity.
bool IsTrashFolderName(std::string_view name);
std::string HomeTrashFolder();

// One run's trash: the folder of each device is looked up once and kept open.
class Trash final : public SetAside {
public:
    // `clock` gives the deletion time (empty: std::time). `environment` reads
    // XDG_DATA_HOME and HOME (empty: getenv), for tests.
    explicit Trash(std::function<std::time_t()> clock = {},
                   std::function<const char*(const char*)> environment = {});

    bool Put(int folderFd, const std::string& name, const std::string& root, std::string_view rel,
             std::string& why) override;
    int FailureText() const override { return 207; }

    // The trash folder (holding files/ and info/) chosen for files on the
    // device of `path`; "" when none can be had. For tests and messages.
    std::string FolderFor(const std::string& path);

private:
    struct Bin {
        dev_t dev = 0;
        std::string folder; // the trash folder; "" when unusable
        std::string why;    // why unusable
        Fd files;
        Fd info;
    };
    Bin& binFor(dev_t dev, const std::string& path);
    void openHome(Bin& bin);
    void openTop(Bin& bin, const std::string& path);
    bool openParts(Bin& bin, Fd trash);

    std::function<std::time_t()> clock_;
    std::function<const char*(const char*)> env_;
    std::vector<Bin> bins_;
    // The next number to try after a taken NAME, per name and trash folder,
    // so that 10,000 files of one name cost one try each, not 50 million.
    std::unordered_map<std::string, int> nextNumber_;
    // The folder of the last file put here and its device.
    std::string lastFolder_;
    dev_t lastDev_ = 0;
};

} // namespace duplora
