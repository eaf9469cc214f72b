#pragma once
// An exclusive lock held while a file is read, changed and replaced, so that
// two programs that change the same file lose neither's change. The lock is
// the kernel's (flock) on a file of its own that only its owner can open:
// a lock on anything others may open (the folder, the settings file) could be
// taken by any user who can read it, and every change would wait for them.
// The file stands only while the lock is held; a holder that is killed holds
// nothing, and the file it leaves serves the next holder. Readers take no lock: a replaced file
// is always whole. Some file systems (network and FUSE ones) keep no locks at
// all; the lock says so, and a caller may then go ahead without it, as before
// there were locks.
#include <functional>
#include <string>

namespace zelvo {

// How long a lock that another holds is waited for, in short sleeps.
constexpr int kLockPatienceMs = 3000;

// Calls Try, one attempt at flock(LOCK_EX | LOCK_NB) answering as flock
// does, until it succeeds or kLockPatienceMs have passed: 0, or the errno
// that ended it (EWOULDBLOCK when the patience ran out).
int WaitForLock(const std::function<int()>& Try);

// errno values that say the file system keeps no locks.
bool LocksUnsupported(int Errno);

class TLockFile {
public:
    // Locks the file Path, made 0600 when it is missing. Something else under
    // that name (a link, a FIFO, another user's file, one that others may
    // open) is replaced by a file of ours first.
    explicit TLockFile(const std::string& Path);
    // Removes the file and releases the lock. A program that waited for the
    // lock meanwhile finds the name gone and makes it anew: a lock counts
    // only on the file that bears the name.
    ~TLockFile();
    TLockFile(const TLockFile&) = delete;
    TLockFile& operator=(const TLockFile&) = delete;

    bool Held() const { return FHeld; }
    // errno of the failure when not held
    int Error() const { return FError; }
    // Not held, and a caller may go on without it: the file system keeps no
    // locks, or others keep taking the lock file's name away (only who may
    // write the folder can), where waiting would let them block every change.
    bool Unsupported() const { return FUnsupported; }

    // For tests: called in place of flock(Fd, Operation), answering as it
    // does; an empty Hook restores flock.
    static void SetTestHook(std::function<int(int Fd, int Operation)> Hook);

private:
    std::string FPath;
    int FFd = -1;
    int FError = 0;
    bool FHeld = false;
    bool FUnsupported = false;
};

} // namespace zelvo
