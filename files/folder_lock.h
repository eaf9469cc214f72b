#pragma once
// An exclusive lock on a folder, held while a file in it is read, changed and
// replaced, so that two programs that change the same file lose neither's
// change. The lock is the kernel's (flock): a holder that is killed holds
// nothing. Readers take no lock: a replaced file is always whole.
#include <string>

namespace zelvo {

class TFolderLock {
public:
    static constexpr int kPatienceMs = 3000;

    // Waits up to kPatienceMs for the lock, in short sleeps.
    explicit TFolderLock(const std::string& Folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    bool Held() const { return FHeld; }
    // errno of the failure when not held
    int Error() const { return FError; }

private:
    int FFd = -1;
    int FError = 0;
    bool FHeld = false;
};

} // namespace zelvo
