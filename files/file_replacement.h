#pragma once
// Writing a user's file (a WAV export, a preset file, the settings) without
// ever losing it or leaving debris beside it. No Qt and no other library of
// the program: every library that writes a user's file uses this one.
#include <cstddef>
#include <functional>
#include <string>

struct stat;

namespace zelvo {

enum class TFileKind { fkMissing, fkRegular, fkDirectory, fkOther };

struct TFileTarget {
    std::string Path;  // the name that finally stands for the file
    TFileKind Kind = TFileKind::fkMissing;
    int Error = 0;     // errno when the path cannot be followed; Kind means nothing then
    // Path is one of the kernel's links to what a process holds open (behind
    // /dev/stdout, /dev/fd/N) that reaches a pipe or a socket: it has no path
    // to follow, and is opened through the link itself.
    bool ThroughLink = false;
};

// Follows Path through any chain of symbolic links (40 at the most, as the
// kernel does). A dangling link gives the missing name it points to. A link
// of the kernel's to what a process holds open is followed by its text only
// where that text is a path to the same file; a pipe or a socket stops the
// chain there (ThroughLink), and a file that has no name any more gives
// ENOENT.
TFileTarget ResolveFileTarget(const std::string& Path);

// New content for the file that Target names. The contract:
// - A symbolic link is followed through chains of links and the file it finally
//   names is replaced; the link stays a link. A dangling link gets the file it
//   names created.
// - An existing target that is not a regular file (a character device, a FIFO,
//   a socket) is opened and written in place, never replaced by a regular
//   file: writing to /dev/null is done on purpose. A FIFO without a reader is
//   refused (ENXIO) rather than waited for. A directory is refused (EISDIR).
//   The in-place open follows no link: a link that turns up after the kind was
//   judged has the name resolved again. A pipe or a socket behind /dev/stdout
//   or /dev/fd/N is written in place too (a socket only where it is one of
//   this process's own descriptors: the kernel opens no socket by name); a
//   regular file behind them is replaced by its path. A regular file found on the opened
//   descriptor (swapped in after the check) is replaced, never written over.
// - Written in place, a write never blocks: while the target takes no data the
//   writer waits in short polls and asks its wait handler whether to go on
//   (false: ECANCELED). Without a handler it gives up (ETIMEDOUT) after
//   kStallSeconds without a byte taken. A reader that went away reports EPIPE;
//   no SIGPIPE of the write ever reaches the process, and the signal
//   disposition is never changed.
// - An existing regular target that the user may not write is refused (EACCES)
//   and stays untouched. May write means: the kernel grants write access and
//   the owner's write bit is set. The second half is what holds root, whom the
//   kernel never refuses, to a file marked read-only. The folder that receives
//   the replacement is judged by the same rule, so a read-only folder is
//   refused to root as well.
// - The replacement keeps the replaced file's permission bits, and its owner
//   and group where the process may set them. A new file gets 0666 less the
//   umask. Until the content is complete the file is open to its owner alone,
//   so nobody else can read what the target would not show them.
// - The new content is complete and flushed (fsync) before it takes the
//   target's name, and the folder is flushed after the rename.
// - The content is written into an unnamed file (O_TMPFILE) of the target's
//   folder. It is named ".NAME.xxxxxxxx.part" (8 hex digits) only between
//   linkat and rename, so a kill at any moment leaves no named temporary file
//   except in that instant. On a file system without O_TMPFILE it carries that
//   name while it is written. Either way, before each replacement the folder's
//   files of that exact pattern that are older than a minute and not locked by
//   a live writer are removed: they are what a killed writer left. Only this
//   target's own name is swept, only regular files with one link that belong
//   to the effective user, and no link is followed. Whether another program
//   has one open is not asked (a removed name takes nothing from it), and
//   nothing another program does to the leftovers can signal or stop the
//   writer.
// - The folder is opened once, at the start: the unnamed file, its name, the
//   rename and the folder's flush all happen in that folder, even if it is
//   moved or replaced by path meanwhile.
// - A failure at any step leaves the target as it was and no temporary file.
//   Written in place, what reached the device stays written; there is nothing
//   to restore.
// - The temporary is locked (flock) from its creation to the end, so that no
//   sweep takes it. Only its owner can open it; a lock that a program of
//   theirs took first is waited for up to kLockPatienceMs, and then the write
//   fails (EWOULDBLOCK). Where the file system keeps no locks it goes on
//   without: no sweep can lock the temporary there, so none removes it.
class TFileReplacement {
public:
    static constexpr int kStallSeconds = 3;
    static constexpr int kWaitSliceMs = 20;
    using TWaitHandler = std::function<bool()>;

    explicit TFileReplacement(const std::string& Target);
    ~TFileReplacement();  // discards what is not committed
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    // Open, and nothing has failed so far.
    bool Ok() const { return FFd >= 0 && FError == 0; }
    // The errno of the first failure; 0 while there was none.
    int Error() const { return FError; }
    // True when the target is a device or a FIFO written directly.
    bool InPlace() const { return FInPlace; }

    // Asked about every kWaitSliceMs while an in-place target takes no data.
    void SetWaitHandler(TWaitHandler Handler) { FWaitHandler = std::move(Handler); }

    // Writes all of Data; false once anything failed.
    bool Write(const void* Data, size_t Size);
    // Puts the content in the target's place; false (and the target as it
    // was) on any failure.
    bool Commit();
    // Drops the content; the target stays as it was.
    void Discard();

    // For tests: behave as on a file system without O_TMPFILE.
    static void UseNamedTemporaries(bool Named);
    // For tests: called at these steps, with the descriptor in question.
    enum class TStep {
        BeforeInPlaceOpen,
        InPlaceOpened,
        SweepExamines,
        TemporaryMade,      // before the writer locks it
        TemporaryLockBusy,  // at each attempt that found it locked
        BeforeFolderFlush
    };
    static void SetTestHook(std::function<void(TStep Step, int Fd)> Hook);

private:
    void Open(const std::string& Target);
    bool OpenInPlace(const std::string& Path, struct stat& Found, bool ThroughLink);
    void OpenReplacement(const std::string& Path, const struct stat* Old);
    bool AwaitRoom();
    void Fail(int Errno);

    TWaitHandler FWaitHandler;
    std::string FBase;      // the target's name in its folder
    std::string FTempName;  // a named temporary in the folder, while there is one
    int FDirFd = -1;
    int FFd = -1;
    int FError = 0;
    bool FInPlace = false;
    bool FSocket = false;       // FFd is a socket: written with send, which raises no SIGPIPE
    bool FDirSyncable = false;  // FDirFd can be flushed
    unsigned FMode = 0;         // the permission bits the replacement gets once complete
    long long FLastProgressMs = 0;
};

} // namespace zelvo
