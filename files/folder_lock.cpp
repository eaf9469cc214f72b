#include "files/folder_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

namespace zelvo {

TFolderLock::TFolderLock(const std::string& Folder) {
    FFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd < 0) {
        FError = errno;
        return;
    }
    constexpr int kSliceMs = 5;
    for (int Waited = 0;; Waited += kSliceMs) {
        if (::flock(FFd, LOCK_EX | LOCK_NB) == 0) {
            FHeld = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            FError = errno;
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

} // namespace zelvo
