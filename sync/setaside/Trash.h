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
// trash on its own volume can be had, it stays. The info's Path= is the full
// path in the home trash and the path relative to $topdir in a volume's
// trash, as the desktop's own trash writes it, so that a disk mounted elsewhere
// restores to the same place on it.
//
// Creating the info file costs as much as the rename, and in another folder:
// for the deletes announced by Expect() a second thread writes the info files
// a few files ahead of the renames, so the two run side by side. Each file's
// info is still complete before its rename; what was written ahead for a file
// that is not put (changed since the scan, a cancel) is removed again by
// Settle() or by the next Put() that passes it.

#include "sync/fs/BelowRoot.h"
#include "sync/setaside/SetAside.h"

#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
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

// The home trash ($XDG_DATA_HOME/Trash, "" when neither XDG_DATA_HOME nor
// HOME is a full path), which a scan of a Trash task leaves out by identity
// so that a run never synchronises (or deletes) what it put there. A
// volume's own trash folders are left out of every scan by the scanner.
std::string HomeTrashFolder();

// One run's trash: the folder of each device is looked up once and kept open.
class Trash final : public SetAside {
public:
    // `clock` gives the deletion time (empty: std::time). `environment` reads
    // XDG_DATA_HOME and HOME (empty: getenv), for tests.
    // `clock` is also called from the thread that writes info files ahead.
    explicit Trash(std::function<std::time_t()> clock = {},
                   std::function<const char*(const char*)> environment = {});
    ~Trash() override;
    Trash(const Trash&) = delete;
    Trash& operator=(const Trash&) = delete;

    bool Put(int folderFd, const std::string& name, const std::string& root, std::string_view rel,
             std::string& why) override;
    int FailureText() const override { return 207; }
    void Expect(std::vector<std::string> paths) override;
    void Settle() override;

    // The trash folder (holding files/ and info/) chosen for files on the
    // device of `path`; "" when none can be had. For tests and messages.
    std::string FolderFor(const std::string& path);

private:
    struct Bin {
        dev_t dev = 0;
        std::string folder; // the trash folder; "" when unusable
        std::string top;    // the volume's top for a volume's trash; "" for the home trash
        std::string why;    // why unusable
        Fd files;
        Fd info;
        // NAME -> the next number to try, for names found taken, so that
        // 10,000 files of one name cost one try each, not 50 million.
        std::unordered_map<std::string, int> taken;
    };
    // An info file written ahead for one announced path.
    struct Ahead {
        enum State : unsigned char { Waiting, Working, Ready, Passed, Done };
        State state = Waiting;
        Bin* bin = nullptr;
        std::string entry; // NAME in files/; its info is info/NAME.trashinfo
        std::time_t when = 0;
    };

    Bin& binFor(dev_t dev, const std::string& path);
    Bin* usableBin(dev_t dev); // under lock_
    // Creates info/ENTRY.trashinfo exclusively for the first free ENTRY of
    // `base`; errno is set when false.
    bool reserve(Bin& bin, const std::string& base, const std::string& original,
                 const std::string& date, std::string& entry);
    // Remembers that ENTRY (BASE or BASE.N) is taken.
    void markTaken(Bin& bin, const std::string& base, const std::string& entry);
    // The rename into files/ENTRY; 0 or the error (EEXIST: ENTRY is taken).
    static int place(int folderFd, const std::string& name, const Bin& bin,
                     const std::string& entry);
    // Takes what was written ahead for `original`: true with `got` set when
    // its info is ready.
    bool takeAhead(const std::string& original, Ahead& got);
    void passAhead(std::size_t from, std::size_t to); // under lock_
    static void removeInfo(const Bin* bin, const std::string& entry);
    // The Path= value for `original` in this bin's info files.
    std::string infoPath(const Bin& bin, const std::string& original);
    void workAhead();
    void openHome(Bin& bin);
    void openTop(Bin& bin, const std::string& path);
    bool openParts(Bin& bin, Fd trash);

    std::function<std::time_t()> clock_;
    std::function<const char*(const char*)> env_;
    std::deque<Bin> bins_; // stays in place while the worker holds a Bin*
    // The folder of the last file put here and its device.
    std::string lastFolder_;
    dev_t lastDev_ = 0;

    // The real path of the last folder infoPath() looked up; both threads ask.
    std::mutex realLock_;
    std::string realKey_;
    std::string realValue_;

    // Guards bins_ (and their `taken`) and everything below.
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> expected_;
    std::unordered_map<std::string_view, std::size_t> position_; // made when needed
    std::vector<Ahead> ahead_;
    std::size_t cursor_ = 0; // the first announced path not yet put or passed
    bool stop_ = false;
    bool workerWaits_ = false;
    std::size_t waitingAt_ = 0; // the path the worker waits to write
    std::thread worker_;
};

} // namespace duplora
