#include "files/folder_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <utility>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

namespace zelvo {
namespace {

std::function<int(int, int)>& TestHook() {
    static std::function<int(int, int)> Hook;
    return Hook;
}

int Flock(int Fd, int Operation) { return TestHook() ? TestHook()(Fd, Operation) : ::flock(Fd, Operation); }

} // namespace

TFolderLock::TFolderLock(const std::string& Folder) {
    FFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd < 0) {
        FError = errno;
        return;
    }
    constexpr int kSliceMs = 5;
    for (int Waited = 0;; Waited += kSliceMs) {
        if (Flock(FFd, LOCK_EX | LOCK_NB) == 0) {
            FHeld = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            FError = errno;
            FUnsupported = FError == ENOLCK || FError == EOPNOTSUPP || FError == ENOSYS || FError == EINVAL;
            return;
        }
        if (Waited >= kPatienceMs) {
            FError = ETIMEDOUT;
            return;
        }
        const timespec Slice{0, kSliceMs * 1000000L};
        ::nanosleep(&Slice, nullptr);
    }
}

TFolderLock::~TFolderLock() {
    if (FFd >= 0)
        ::close(FFd);  // the lock goes with the descriptor
}

void TFolderLock::SetTestHook(std::function<int(int, int)> Hook) { TestHook() = std::move(Hook); }

} // namespace zelvo
