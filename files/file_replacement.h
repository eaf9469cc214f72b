#pragma once
// Writing a user's file (a WAV export, a preset file, the settings) without
// ever losing it or leaving debris beside it. No Qt and no other library of
// the program: every library that writes a user's file uses this one.
#include <cstddef>
#include <string>

struct stat;

namespace zelvo {

enum class TFileKind { fkMissing, fkRegular, fkDirectory, fkOther };

struct TFileTarget {
    std::string Path;  // the name that finally stands for the file
    TFileKind Kind = TFileKind::fkMissing;
    int Error = 0;     // errno when the path cannot be followed; Kind means nothing then
};

// Follows Path through any chain of symbolic links (40 at the most, as the
// kernel does). A dangling link gives the missing name it points to.
TFileTarget ResolveFileTarget(const std::string& Path);

// New content for the file that Target names. The contract:
// - A symbolic link is followed through chains of links and the file it finally
//   names is replaced; the link stays a link. A dangling link gets the file it
//   names created.
// - An existing target that is not a regular file (a character device, a FIFO,
//   a socket) is opened and written in place, never replaced by a regular
//   file: writing to /dev/null is done on purpose. A FIFO without a reader is
//   refused (ENXIO) rather than waited for. A directory is refused (EISDIR).
// - An existing regular target that the user may not write is refused (EACCES)
//   and stays untouched. May write means: the kernel grants write access and
//   the owner's write bit is set. The second half is what holds root, whom the
//   kernel never refuses, to a file marked read-only. The folder that receives
//   the replacement is judged by the same rule, so a read-only folder is
//   refused to root as well.
// - The replacement keeps the replaced file's permission bits, and its owner
//   and group where the process may set them. A new file gets 0666 less the
//   umask.
// - The new content is complete and flushed (fsync) before it takes the
//   target's name, and the folder is flushed after the rename.
// - The content is written into an unnamed file (O_TMPFILE) of the target's
//   folder. It is named ".NAME.xxxxxxxx.part" (8 hex digits) only between
//   linkat and rename, so a kill at any moment leaves no named temporary file
//   except in that instant. On a file system without O_TMPFILE it carries that
//   name while it is written. Either way, before each replacement the folder's
//   files of that exact pattern that are older than a minute and not locked by
//   a live writer are removed: they are what a killed writer left.
// - A failure at any step leaves the target as it was and no temporary file.
//   Written in place, what reached the device stays written; there is nothing
//   to restore.
class TFileReplacement {
public:
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

    // Writes all of Data; false once anything failed.
    bool Write(const void* Data, size_t Size);
    // Puts the content in the target's place; false (and the target as it
    // was) on any failure.
    bool Commit();
    // Drops the content; the target stays as it was.
    void Discard();

    // For tests: behave as on a file system without O_TMPFILE.
    static void UseNamedTemporaries(bool Named);

private:
    void OpenInPlace(const std::string& Path);
    void OpenReplacement(const std::string& Path, const struct stat* Old);
    void Fail(int Errno);

    std::string FFolder;    // of the target, for the flush after the rename
    std::string FBase;      // the target's name in its folder
    std::string FTempName;  // a named temporary in the folder, while there is one
    int FDirFd = -1;
    int FFd = -1;
    int FError = 0;
    bool FInPlace = false;
};

} // namespace zelvo
