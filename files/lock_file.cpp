#include "files/lock_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace zelvo {
namespace {

std::function<int(int, int)>& TestHook() {
    static std::function<int(int, int)> Hook;
    return Hook;
}

int Flock(int Fd, int Operation) { return TestHook() ? TestHook()(Fd, Operation) : ::flock(Fd, Operation); }

long long NowMs() {
    timespec T;
    ::clock_gettime(CLOCK_MONOTONIC, &T);
    return static_cast<long long>(T.tv_sec) * 1000 + T.tv_nsec / 1000000;
}

// Tries until Deadline (monotonic ms), in short sleeps.
int WaitForLockUntil(const std::function<int()>& Try, long long Deadline) {
    constexpr long kSliceMs = 5;
    for (;;) {
        if (Try() == 0)
            return 0;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return errno;
        if (NowMs() >= Deadline)
            return EWOULDBLOCK;
        const timespec Slice{0, kSliceMs * 1000000L};
        ::nanosleep(&Slice, nullptr);
    }
}

bool SameFile(const struct stat& A, const struct stat& B) { return A.st_ino == B.st_ino && A.st_dev == B.st_dev; }

// Nobody but its owner can open it, nor ever could have: a descriptor that
// another user got while the file was open to them would outlive a chmod.
bool OursAlone(const struct stat& St) {
    return S_ISREG(St.st_mode) && St.st_uid == ::geteuid() && St.st_nlink == 1 && (St.st_mode & 077) == 0;
}

// An open of the lock file's name that failed for what stands there, not for
// the folder or the process.
bool NameTakenBySomethingElse(int Errno) {
    return Errno == ELOOP || Errno == EACCES || Errno == EPERM || Errno == ENXIO || Errno == EISDIR ||
           Errno == EWOULDBLOCK;
}

} // namespace

int WaitForLock(const std::function<int()>& Try) { return WaitForLockUntil(Try, NowMs() + kLockPatienceMs); }

bool LocksUnsupported(int Errno) {
    return Errno == ENOLCK || Errno == EOPNOTSUPP || Errno == ENOSYS || Errno == EINVAL;
}

TLockFile::TLockFile(const std::string& Path) : FPath(Path) {
    // The holder before removes the file as it lets go, so a program that
    // waited for it tries again on the one made next; that, too, comes out
    // of the patience. Something that is not ours under the name is cleared
    // a few times at most: more only whoever may write the folder can cause,
    // and waiting for them would be theirs to end.
    constexpr int kClearings = 8;
    const long long Deadline = NowMs() + kLockPatienceMs;
    for (int Cleared = 0; Cleared < kClearings;) {
        FFd = ::open(Path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        const int OpenError = FFd < 0 ? errno : 0;
        if (OpenError && !NameTakenBySomethingElse(OpenError)) {
            FError = OpenError;
            return;
        }
        struct stat St;
        if (FFd >= 0 && ::fstat(FFd, &St) == 0 && OursAlone(St)) {
            if (const int E = WaitForLockUntil([this] { return Flock(FFd, LOCK_EX | LOCK_NB); }, Deadline)) {
                FError = E;
                FUnsupported = LocksUnsupported(E);
                return;
            }
            // a lock counts only on the file that bears the name now
            struct stat Named;
            if (::lstat(Path.c_str(), &Named) == 0 && SameFile(Named, St)) {
                FHeld = true;
                return;
            }
        }
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        if (NowMs() >= Deadline) {
            FError = EWOULDBLOCK;
            return;
        }
        // What bears the name is not ours alone: it goes, and a new one of
        // ours takes the name. Gone already, or ours by now (the holder
        // before removed the file this program opened, and another made it
        // anew), it is left alone: that one may be held already.
        struct stat Entry;
        if (::lstat(Path.c_str(), &Entry) != 0) {
            if (errno == ENOENT && !OpenError)
                continue;
            FError = OpenError ? OpenError : errno;  // the folder refused, not what stands in it
            return;
        }
        if (OursAlone(Entry))
            continue;
        if (::unlink(Path.c_str()) != 0 && errno != ENOENT) {
            FError = errno;
            FUnsupported = true;  // another's, in a folder we may not clear
            return;
        }
        ++Cleared;
    }
    FError = EWOULDBLOCK;
    FUnsupported = true;
}

TLockFile::~TLockFile() {
    struct stat Held, Named;
    if (FHeld && ::fstat(FFd, &Held) == 0 && ::lstat(FPath.c_str(), &Named) == 0 && SameFile(Held, Named))
        ::unlink(FPath.c_str());
    if (FFd >= 0)
        ::close(FFd);  // the lock goes with the descriptor
}

void TLockFile::SetTestHook(std::function<int(int, int)> Hook) { TestHook() = std::move(Hook); }

} // namespace zelvo
