#pragma once
// A tmpfs of its own for a test: another volume than the test folder's, with
// a top of its own (where a volume's trash lies). Unmounted at the end.

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace duplora::test {

class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& at) : at_(at) {
        std::filesystem::create_directories(at);
        ok_ = ::mount("duplora-test", at.c_str(), "tmpfs", 0, "size=16m") == 0;
        if (!ok_)
            why_ = std::strerror(errno);
    }
    ~TmpfsMount() {
        if (ok_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }
    std::string sub(const std::string& name) const { return at_ + "/" + name; }
    const std::string& path() const { return at_; }

private:
    std::string at_;
    bool ok_ = false;
    std::string why_;
};

} // namespace duplora::test
