#include "files/file_replacement.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
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

TFileKind KindOf(mode_t Mode) {
    if (S_ISREG(Mode))
        return TFileKind::fkRegular;
    if (S_ISDIR(Mode))
        return TFileKind::fkDirectory;
    return TFileKind::fkOther;
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
        T.Path = Link.front() == '/' || Slash == std::string::npos ? Link : T.Path.substr(0, Slash + 1) + Link;
    }
}

// 0 when this process may write Path, else the reason: the owner's write bit
// first, so that a file or folder marked read-only stays so for root too, then
// the kernel's answer (a read-only mount, another user's file).
int WriteRefusal(const std::string& Path, const struct stat& St, int Mode) {
    if (!(St.st_mode & S_IWUSR))
        return EACCES;
    return ::faccessat(AT_FDCWD, Path.c_str(), Mode, AT_EACCESS) == 0 ? 0 : errno;
}

std::string TempName(const std::string& Base) {
    static std::random_device Rd;
    char Hex[kHexDigits + 1];
    std::snprintf(Hex, sizeof Hex, "%08x", static_cast<unsigned>(Rd()));
    // the whole name has to fit in NAME_MAX; the pattern does not need all of Base
    return "." + Base.substr(0, 255 - 2 - kHexDigits - kTempSuffix.size()) + "." + Hex + kTempSuffix;
}

bool IsTempName(const std::string& Name) {
    const size_t Tail = 1 + kHexDigits + kTempSuffix.size();  // ".xxxxxxxx.part"
    if (Name.size() < 2 + Tail || Name.front() != '.' ||
        Name.compare(Name.size() - kTempSuffix.size(), std::string::npos, kTempSuffix) != 0)
        return false;
    const size_t Dot = Name.size() - Tail;
    if (Name[Dot] != '.')
        return false;
    for (size_t I = Dot + 1; I < Dot + 1 + kHexDigits; ++I)
        if (!((Name[I] >= '0' && Name[I] <= '9') || (Name[I] >= 'a' && Name[I] <= 'f')))
            return false;
    return true;
}

// Removes what killed writers left in the folder: our temporaries that are
// older than a minute and that no live writer holds locked.
void SweepStaleTemporaries(int DirFd) {
    const int ListFd = ::openat(DirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (ListFd < 0)
        return;
    DIR* List = ::fdopendir(ListFd);
    if (!List) {
        ::close(ListFd);
        return;
    }
    const time_t Now = std::time(nullptr);
    while (const dirent* E = ::readdir(List)) {
        const std::string Name = E->d_name;
        struct stat St;
        if (!IsTempName(Name) || ::fstatat(ListFd, Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(St.st_mode) || Now - St.st_mtime <= kStaleAfterSeconds)
            continue;
        int Fd = ::openat(ListFd, Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0)
            Fd = ::openat(ListFd, Name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (Fd < 0)
            continue;
        struct stat Held;
        if (::flock(Fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(Fd, &Held) == 0 && Held.st_ino == St.st_ino &&
            Held.st_dev == St.st_dev)
            ::unlinkat(ListFd, Name.c_str(), 0);
        ::close(Fd);
    }
    ::closedir(List);
}

// A reader of a FIFO that goes away would raise SIGPIPE and end the program;
// the write reports EPIPE instead.
ssize_t WriteWithoutSigpipe(int Fd, const void* Data, size_t Size) {
    sigset_t Pipe, Old, Pending;
    sigemptyset(&Pipe);
    sigaddset(&Pipe, SIGPIPE);
    sigpending(&Pending);
    const bool WasPending = sigismember(&Pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &Pipe, &Old);
    const ssize_t N = ::write(Fd, Data, Size);
    const int E = errno;
    if (N < 0 && E == EPIPE && !WasPending) {
        const timespec Zero{};
        sigtimedwait(&Pipe, nullptr, &Zero);
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

TFileReplacement::TFileReplacement(const std::string& Target) {
    struct stat St;
    const TFileTarget T = Resolve(Target, St);
    if (T.Error)
        Fail(T.Error);
    else if (T.Kind == TFileKind::fkDirectory)
        Fail(EISDIR);
    else if (T.Kind == TFileKind::fkOther)
        OpenInPlace(T.Path);
    else if (T.Kind == TFileKind::fkMissing)
        OpenReplacement(T.Path, nullptr);
    else if (const int Refusal = WriteRefusal(T.Path, St, W_OK))
        Fail(Refusal);
    else
        OpenReplacement(T.Path, &St);
}

TFileReplacement::~TFileReplacement() { Discard(); }

void TFileReplacement::Fail(int Errno) {
    if (FError == 0)
        FError = Errno ? Errno : EIO;
}

void TFileReplacement::OpenInPlace(const std::string& Path) {
    FInPlace = true;
    // not blocking: a FIFO without a reader is refused, not waited for
    FFd = ::open(Path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (FFd < 0)
        return Fail(errno);
    const int Flags = ::fcntl(FFd, F_GETFL);
    if (Flags < 0 || ::fcntl(FFd, F_SETFL, Flags & ~O_NONBLOCK) != 0)
        Fail(errno);
}

void TFileReplacement::OpenReplacement(const std::string& Path, const struct stat* Old) {
    const size_t Slash = Path.find_last_of('/');
    FFolder = Slash == std::string::npos ? std::string(".") : Slash == 0 ? std::string("/") : Path.substr(0, Slash);
    FBase = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
    if (FBase.empty())
        return Fail(EISDIR);
    FDirFd = ::open(FFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat Folder;
    if (FDirFd < 0 || ::fstat(FDirFd, &Folder) != 0)
        return Fail(errno);
    if (const int Refusal = WriteRefusal(FFolder, Folder, W_OK | X_OK))
        return Fail(Refusal);

    SweepStaleTemporaries(FDirFd);

    if (!NamedTemporaries()) {
        FFd = ::openat(FDirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        // these say that the file system has no unnamed files
        if (FFd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Fail(errno);
    }
    for (int Try = 0; FFd < 0 && Try < 16; ++Try) {
        const std::string Name = TempName(FBase);
        FFd = ::openat(FDirFd, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (FFd >= 0)
            FTempName = Name;
        else if (errno != EEXIST)
            return Fail(errno);
    }
    if (FFd < 0)
        return Fail(EEXIST);
    // held until the end: the sweep of another writer leaves a live file alone
    ::flock(FFd, LOCK_EX);

    if (Old) {
        struct stat New;
        if (::fstat(FFd, &New) == 0 && (New.st_uid != Old->st_uid || New.st_gid != Old->st_gid) &&
            ::fchown(FFd, Old->st_uid, Old->st_gid) != 0)
            (void)!::fchown(FFd, static_cast<uid_t>(-1), Old->st_gid);  // the group alone, where we are in it
        if (::fchmod(FFd, Old->st_mode & 07777) != 0)
            return Fail(errno);
    }
}

bool TFileReplacement::Write(const void* Data, size_t Size) {
    const auto* P = static_cast<const char*>(Data);
    while (Ok() && Size > 0) {
        const ssize_t N = WriteWithoutSigpipe(FFd, P, Size);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            Fail(N < 0 ? errno : EIO);
            break;
        }
        P += N;
        Size -= static_cast<size_t>(N);
    }
    return Ok();
}

bool TFileReplacement::Commit() {
    if (!Ok()) {
        Discard();
        return false;
    }
    if (::fsync(FFd) != 0 && !(FInPlace && (errno == EINVAL || errno == EROFS || errno == EOPNOTSUPP)))
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
    if (!FInPlace) {
        const int Dir = ::open(FFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (Dir >= 0) {
            // the content is in place already: a folder that cannot be flushed fails nothing
            ::fsync(Dir);
            ::close(Dir);
        }
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
