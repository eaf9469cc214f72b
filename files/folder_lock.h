#pragma once
// An exclusive lock on a folder, held while a file in it is read, changed and
// replaced, so that two programs that change the same file lose neither's
// change. The lock is the kernel's (flock): a holder that is killed holds
// nothing. Readers take no lock: a replaced file is always whole. Some file
// systems (network and FUSE ones) keep no locks at all; the lock says so, and
// a caller may then go ahead without it, as before there were locks.
#include <functional>
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
    // Not held because the folder's file system keeps no locks (ENOLCK,
    // EOPNOTSUPP, ENOSYS or EINVAL)
    bool Unsupported() const { return FUnsupported; }

    // For tests: called in place of flock(Fd, Operation), answering as it
    // does; an empty Hook restores flock.
    static void SetTestHook(std::function<int(int Fd, int Operation)> Hook);

private:
    int FFd = -1;
    int FError = 0;
    bool FHeld = false;
    bool FUnsupported = false;
};

} // namespace zelvo
