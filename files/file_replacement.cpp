#include "files/file_replacement.h"
#include "files/lock_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace zelvo {
namespace {

constexpr int kMaxLinks = 40;
constexpr time_t kStaleAfterSeconds = 60;
constexpr size_t kHexDigits = 8;
const std::string kTempSuffix = ".part";

bool& NamedTemporaries() {
    static bool Named = false;
    return Named;
}

std::function<void(TFileReplacement::TStep, int)>& TestHook() {
    static std::function<void(TFileReplacement::TStep, int)> Hook;
    return Hook;
}

void AtStep(TFileReplacement::TStep Step, int Fd) {
    if (TestHook())
        TestHook()(Step, Fd);
}

long long NowMs() {
    timespec T;
    ::clock_gettime(CLOCK_MONOTONIC, &T);
    return static_cast<long long>(T.tv_sec) * 1000 + T.tv_nsec / 1000000;
}

// How often the in-place open is tried again when a link turns up in between.
constexpr int kOpenRounds = 4;

TFileKind KindOf(mode_t Mode) {
    if (S_ISREG(Mode))
        return TFileKind::fkRegular;
    if (S_ISDIR(Mode))
        return TFileKind::fkDirectory;
    return TFileKind::fkOther;
}

// The umask, read without setting it where the kernel shows it: setting it
// even for a moment would give a file made meanwhile by another thread the
// wrong mode.
mode_t CurrentUmask() {
    if (FILE* Status = std::fopen("/proc/self/status", "re")) {
        char Line[256];
        unsigned Mask = 0;
        bool Found = false;
        while (!Found && std::fgets(Line, sizeof Line, Status))
            Found = std::sscanf(Line, "Umask: %o", &Mask) == 1;
        std::fclose(Status);
        if (Found)
            return static_cast<mode_t>(Mask & 0777);
    }
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return Mask;
}

bool SameFile(const struct stat& A, const struct stat& B) { return A.st_ino == B.st_ino && A.st_dev == B.st_dev; }

// The folder that holds the entry Path names.
std::string FolderOf(const std::string& Path) {
    const size_t Slash = Path.find_last_of('/');
    return Slash == std::string::npos ? "." : Slash == 0 ? "/" : Path.substr(0, Slash);
}

bool OnProcFs(const std::string& Folder) {
    struct statfs Fs;
    return ::statfs(Folder.c_str(), &Fs) == 0 && Fs.f_type == PROC_SUPER_MAGIC;
}

int ReadLink(const std::string& Path, std::string& Out) {
    for (size_t Size = 256;; Size *= 2) {
        Out.resize(Size);
        const ssize_t N = ::readlink(Path.c_str(), Out.data(), Size);
        if (N < 0)
            return errno;
        if (static_cast<size_t>(N) < Size) {
            Out.resize(static_cast<size_t>(N));
            return 0;
        }
    }
}

TFileTarget Resolve(const std::string& Path, struct stat& St) {
    TFileTarget T{Path};
    if (Path.empty()) {
        T.Error = ENOENT;
        return T;
    }
    for (int Hops = 0;; ++Hops) {
        if (::lstat(T.Path.c_str(), &St) != 0) {
            if (errno != ENOENT)
                T.Error = errno;
            return T;
        }
        if (!S_ISLNK(St.st_mode)) {
            T.Kind = KindOf(St.st_mode);
            return T;
        }
        std::string Link;
        if (Hops == kMaxLinks) {
            T.Error = ELOOP;
            return T;
        }
        if (const int E = ReadLink(T.Path, Link)) {
            T.Error = E;
            return T;
        }
        if (Link.empty()) {
            T.Error = ENOENT;
            return T;
        }
        // a relative link is read from the folder that holds it
        const size_t Slash = T.Path.find_last_of('/');
        const std::string Next =
            Link.front() == '/' || Slash == std::string::npos ? Link : T.Path.substr(0, Slash + 1) + Link;
        if (OnProcFs(FolderOf(T.Path))) {
            // The kernel's links to open files name a pipe "pipe:[N]" and a
            // deleted file by the path it had: only the kernel's own walk
            // reaches what they stand for, and the text is a path to follow
            // only where it leads to the same file.
            struct stat Reached, ByText;
            if (::stat(T.Path.c_str(), &Reached) != 0) {
                T.Error = errno;
                return T;
            }
            if (::stat(Next.c_str(), &ByText) != 0 || !SameFile(ByText, Reached)) {
                if (S_ISREG(Reached.st_mode) || S_ISDIR(Reached.st_mode)) {
                    T.Error = ENOENT;  // a file without a name cannot be replaced
                    return T;
                }
                St = Reached;
                T.Kind = KindOf(Reached.st_mode);
                T.ThroughLink = true;
                return T;
            }
        }
        T.Path = Next;
    }
}

// 0 when this process may write Path, else the reason: the owner's write bit
// first, so that a file or folder marked read-only stays so for root too, then
// the kernel's answer (a read-only mount, another user's file).
int WriteRefusal(int DirFd, const char* Name, const struct stat& St, int Mode) {
    if (!(St.st_mode & S_IWUSR))
        return EACCES;
    return ::faccessat(DirFd, Name, Mode, AT_EACCESS) == 0 ? 0 : errno;
}

// ".NAME." of the temporaries for Base: the whole name has to fit in NAME_MAX,
// and the pattern does not need all of Base.
std::string TempStem(const std::string& Base) {
    return "." + Base.substr(0, 255 - 2 - kHexDigits - kTempSuffix.size()) + ".";
}

std::string TempName(const std::string& Base) {
    static std::random_device Rd;
    char Hex[kHexDigits + 1];
    std::snprintf(Hex, sizeof Hex, "%08x", static_cast<unsigned>(Rd()));
    return TempStem(Base) + Hex + kTempSuffix;
}

bool IsTempNameOf(const std::string& Name, const std::string& Stem) {
    if (Name.size() != Stem.size() + kHexDigits + kTempSuffix.size() || Name.compare(0, Stem.size(), Stem) != 0 ||
        Name.compare(Name.size() - kTempSuffix.size(), std::string::npos, kTempSuffix) != 0)
        return false;
    for (size_t I = Stem.size(); I < Stem.size() + kHexDigits; ++I)
        if (!((Name[I] >= '0' && Name[I] <= '9') || (Name[I] >= 'a' && Name[I] <= 'f')))
            return false;
    return true;
}

bool SweepableEntry(const struct stat& St, time_t Now) {
    return S_ISREG(St.st_mode) && St.st_uid == ::geteuid() && St.st_nlink == 1 && Now - St.st_mtime > kStaleAfterSeconds;
}

// Removes what a killed writer of this target left in the folder: its
// temporaries that are older than a minute and that no live writer holds
// locked. Other names, other users' files, links and files with further names
// are none of ours. Whether some other program has one open is not asked: a
// lease would tell, but while it is held anyone's open of the file sends us
// SIGIO, and a removed name takes nothing from a program that has the file
// open.
void SweepStaleTemporaries(int DirFd, const std::string& Base) {
    const int ListFd = ::openat(DirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (ListFd < 0)
        return;
    DIR* List = ::fdopendir(ListFd);
    if (!List) {
        ::close(ListFd);
        return;
    }
    const std::string Stem = TempStem(Base);
    const time_t Now = std::time(nullptr);
    while (const dirent* E = ::readdir(List)) {
        const std::string Name = E->d_name;
        struct stat St;
        if (!IsTempNameOf(Name, Stem) || ::fstatat(ListFd, Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SweepableEntry(St, Now))
            continue;
        int Fd = ::openat(ListFd, Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0)
            Fd = ::openat(ListFd, Name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0)
            continue;
        struct stat Held, Again;
        if (::fstat(Fd, &Held) == 0 && SameFile(Held, St) && SweepableEntry(Held, Now) &&
            ::flock(Fd, LOCK_EX | LOCK_NB) == 0) {
            AtStep(TFileReplacement::TStep::SweepExamines, Fd);
            // still the file that was judged, not one swapped in under the name
            if (::fstatat(ListFd, Name.c_str(), &Again, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(Again, St))
                ::unlinkat(ListFd, Name.c_str(), 0);
        }
        ::close(Fd);
    }
    ::closedir(List);
}

// The kernel opens no socket by name. Where Path ends in the number of one of
// our own descriptors that holds the socket Wanted (/dev/fd/N,
// /proc/self/fd/N), a copy of that descriptor; else -1.
int OwnSocket(const std::string& Path, const struct stat& Wanted) {
    const std::string Number = Path.substr(Path.find_last_of('/') + 1);
    if (Number.empty() || Number.size() > 9 || Number.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int Own = std::stoi(Number);
    struct stat St;
    if (::fstat(Own, &St) != 0 || !S_ISSOCK(St.st_mode) || !SameFile(St, Wanted))
        return -1;
    return ::fcntl(Own, F_DUPFD_CLOEXEC, 0);
}

bool SigpipePending() {
    sigset_t Pending;
    sigpending(&Pending);
    return sigismember(&Pending, SIGPIPE);
}

// A reader of a FIFO that goes away would raise SIGPIPE and end the program;
// the write reports EPIPE instead. The kernel raises the signal also when it
// returns a short count, so whatever the write returned, a SIGPIPE that it
// may have raised is taken before the mask is restored. One that was pending
// before is left alone only where this write cannot have raised one: the two
// would be the same signal.
ssize_t WriteWithoutSigpipe(int Fd, const void* Data, size_t Size) {
    sigset_t Pipe, Old;
    sigemptyset(&Pipe);
    sigaddset(&Pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &Pipe, &Old);
    const bool WasPending = SigpipePending();
    const ssize_t N = ::write(Fd, Data, Size);
    const int E = errno;
    const bool MayHaveRaised = N < 0 ? E == EPIPE : static_cast<size_t>(N) < Size;
    if ((MayHaveRaised || !WasPending) && SigpipePending()) {
        const timespec Zero{};
        while (sigtimedwait(&Pipe, nullptr, &Zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &Old, nullptr);
    errno = E;
    return N;
}

} // namespace

TFileTarget ResolveFileTarget(const std::string& Path) {
    struct stat St;
    return Resolve(Path, St);
}

void TFileReplacement::UseNamedTemporaries(bool Named) { NamedTemporaries() = Named; }

void TFileReplacement::SetTestHook(std::function<void(TStep, int)> Hook) { TestHook() = std::move(Hook); }

TFileReplacement::TFileReplacement(const std::string& Target) { Open(Target); }

void TFileReplacement::Open(const std::string& Target) {
    for (int Round = 0;; ++Round) {
        struct stat St;
        const TFileTarget T = Resolve(Target, St);
        if (T.Error)
            return Fail(T.Error);
        if (T.Kind == TFileKind::fkDirectory)
            return Fail(EISDIR);
        if (T.Kind == TFileKind::fkMissing)
            return OpenReplacement(T.Path, nullptr);
        if (T.Kind == TFileKind::fkOther) {
            if (OpenInPlace(T.Path, St, T.ThroughLink))
                return;
            if (FError)
                return;
            if (!S_ISREG(St.st_mode)) {
                // a link took the name's place: judged again from the start
                if (Round + 1 < kOpenRounds)
                    continue;
                return Fail(ELOOP);
            }
            // a regular file took the device's place: it is replaced as one
        }
        if (const int Refusal = WriteRefusal(AT_FDCWD, T.Path.c_str(), St, W_OK))
            return Fail(Refusal);
        return OpenReplacement(T.Path, &St);
    }
}

TFileReplacement::~TFileReplacement() { Discard(); }

void TFileReplacement::Fail(int Errno) {
    if (FError == 0)
        FError = Errno ? Errno : EIO;
}

// True when Path is open for writing in place. False with no error either when
// a link turned up at Path (Found is no regular file then), or when the
// descriptor shows a regular file (Found is its status). ThroughLink: Path is
// a link of the kernel's to a pipe or a socket, Found what it reached.
bool TFileReplacement::OpenInPlace(const std::string& Path, struct stat& Found, bool ThroughLink) {
    AtStep(TStep::BeforeInPlaceOpen, -1);
    // not blocking: a FIFO without a reader is refused, not waited for, and the
    // writes wait in polls that keep the caller responsive
    int Fd = ::open(Path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (ThroughLink ? 0 : O_NOFOLLOW));
    if (Fd < 0 && errno == ENXIO && ThroughLink && S_ISSOCK(Found.st_mode)) {
        Fd = OwnSocket(Path, Found);
        FSocket = Fd >= 0;
        if (Fd < 0)
            errno = ENXIO;
    }
    if (Fd < 0) {
        if (errno == ELOOP && !ThroughLink) {
            Found = {};
            return false;
        }
        Fail(errno);
        return false;
    }
    if (::fstat(Fd, &Found) != 0) {
        Fail(errno);
        ::close(Fd);
        return false;
    }
    if (S_ISREG(Found.st_mode) || S_ISDIR(Found.st_mode)) {
        ::close(Fd);
        if (S_ISDIR(Found.st_mode))
            Fail(EISDIR);
        else if (ThroughLink)
            Fail(ENOENT);  // a file came to stand behind the link: it has no path to be replaced by
        return false;
    }
    FFd = Fd;
    FInPlace = true;
    FLastProgressMs = NowMs();
    AtStep(TStep::InPlaceOpened, FFd);
    return true;
}

void TFileReplacement::OpenReplacement(const std::string& Path, const struct stat* Old) {
    const size_t Slash = Path.find_last_of('/');
    const std::string Folder = FolderOf(Path);
    FBase = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
    if (FBase.empty())
        return Fail(EISDIR);
    // Opened once: whatever happens to the folder's name from now on, the file
    // is made, named and flushed in this folder.
    FDirFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FDirSyncable = FDirFd >= 0;
    if (FDirFd < 0 && errno == EACCES)  // a folder we may write but not list
        FDirFd = ::open(Folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat FolderSt;
    if (FDirFd < 0 || ::fstat(FDirFd, &FolderSt) != 0)
        return Fail(errno);
    if (const int Refusal = WriteRefusal(FDirFd, ".", FolderSt, W_OK | X_OK))
        return Fail(Refusal);

    SweepStaleTemporaries(FDirFd, FBase);

    FMode = Old ? Old->st_mode & 07777 : 0666 & ~CurrentUmask();
    // Open to us alone until the content is complete: a named temporary can
    // be opened by whoever may search the folder, and the target's mode
    // would let them read new content that the target does not show yet.
    if (!NamedTemporaries()) {
        FFd = ::openat(FDirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        // these say that the file system has no unnamed files
        if (FFd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Fail(errno);
    }
    for (int Try = 0; FFd < 0 && Try < 16; ++Try) {
        const std::string Name = TempName(FBase);
        FFd = ::openat(FDirFd, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (FFd >= 0)
            FTempName = Name;
        else if (errno != EEXIST)
            return Fail(errno);
    }
    if (FFd < 0)
        return Fail(EEXIST);
    AtStep(TStep::TemporaryMade, FFd);
    // Held until the end: the sweep of another writer leaves a live file
    // alone. A program of ours may have taken it first; the write waits for
    // it rather than go on unprotected.
    const int LockError = WaitForLock([this] {
        const int R = ::flock(FFd, LOCK_EX | LOCK_NB);
        if (R != 0 && errno == EWOULDBLOCK) {
            AtStep(TStep::TemporaryLockBusy, FFd);
            errno = EWOULDBLOCK;
        }
        return R;
    });
    if (LockError && !LocksUnsupported(LockError))
        return Fail(LockError);

    if (Old) {
        struct stat New;
        if (::fstat(FFd, &New) == 0 && (New.st_uid != Old->st_uid || New.st_gid != Old->st_gid) &&
            ::fchown(FFd, Old->st_uid, Old->st_gid) != 0)
            (void)!::fchown(FFd, static_cast<uid_t>(-1), Old->st_gid);  // the group alone, where we are in it
    }
}

// Waits a moment for an in-place target to take data; false when the wait
// handler, or the stall limit without one, gives up.
bool TFileReplacement::AwaitRoom() {
    pollfd P{FFd, POLLOUT, 0};
    while (::poll(&P, 1, kWaitSliceMs) < 0 && errno == EINTR) {
    }
    if (FWaitHandler) {
        if (!FWaitHandler()) {
            Fail(ECANCELED);
            return false;
        }
    } else if (NowMs() - FLastProgressMs > kStallSeconds * 1000ll) {
        Fail(ETIMEDOUT);
        return false;
    }
    return true;
}

bool TFileReplacement::Write(const void* Data, size_t Size) {
    const auto* P = static_cast<const char*>(Data);
    while (Ok() && Size > 0) {
        // the socket's descriptor is shared with its owner: no flag of it is changed
        const ssize_t N = FSocket ? ::send(FFd, P, Size, MSG_DONTWAIT | MSG_NOSIGNAL) : WriteWithoutSigpipe(FFd, P, Size);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && FInPlace) {
            if (!AwaitRoom())
                break;
            continue;
        }
        if (N <= 0) {
            Fail(N < 0 ? errno : EIO);
            break;
        }
        P += N;
        Size -= static_cast<size_t>(N);
        FLastProgressMs = NowMs();
    }
    return Ok();
}

bool TFileReplacement::Commit() {
    if (!Ok()) {
        Discard();
        return false;
    }
    // complete now: it may show what the target will (after the owner, which
    // would clear a set-id bit)
    if (!FInPlace && ::fchmod(FFd, FMode) != 0)
        Fail(errno);
    if (Ok() && ::fsync(FFd) != 0 && !(FInPlace && (errno == EINVAL || errno == EROFS || errno == EOPNOTSUPP)))
        Fail(errno);  // devices and pipes have nothing to flush
    if (Ok() && !FInPlace && FTempName.empty()) {
        // a name for the unnamed file; through /proc, since AT_EMPTY_PATH
        // needs a privilege that a user lacks
        const std::string Self = "/proc/self/fd/" + std::to_string(FFd);
        for (int Try = 0; Ok() && FTempName.empty() && Try < 16; ++Try) {
            const std::string Name = TempName(FBase);
            int R = ::linkat(AT_FDCWD, Self.c_str(), FDirFd, Name.c_str(), AT_SYMLINK_FOLLOW);
            if (R != 0 && errno == ENOENT)
                R = ::linkat(FFd, "", FDirFd, Name.c_str(), AT_EMPTY_PATH);
            if (R == 0)
                FTempName = Name;
            else if (errno != EEXIST)
                Fail(errno);
        }
        if (FTempName.empty())
            Fail(EEXIST);
    }
    if (Ok() && !FInPlace) {
        if (::renameat(FDirFd, FTempName.c_str(), FDirFd, FBase.c_str()) != 0)
            Fail(errno);
        else
            FTempName.clear();  // it is the target now
    }
    if (!Ok()) {
        Discard();
        return false;
    }
    if (!FInPlace && FDirSyncable) {
        AtStep(TStep::BeforeFolderFlush, FDirFd);
        // the content is in place already: a folder that cannot be flushed fails nothing
        ::fsync(FDirFd);
    }
    // Written in place, the close is the last word on the data; a replaced
    // file was flushed before the rename and cannot be taken back anyway.
    const bool Closed = ::close(FFd) == 0 || !FInPlace;
    FFd = -1;
    if (!Closed)
        Fail(errno);
    Discard();
    return Closed;
}

void TFileReplacement::Discard() {
    if (!FTempName.empty())
        ::unlinkat(FDirFd, FTempName.c_str(), 0);
    FTempName.clear();
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
    if (FDirFd >= 0)
        ::close(FDirFd);
    FDirFd = -1;
}

} // namespace zelvo
