#include "files/bounded_read.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

TFileHead ReadFileHead(const std::string& Path, size_t MaxSize) {
    TFileHead Head;
    struct stat St;
    if (::stat(Path.c_str(), &St) != 0) {
        Head.OpenError = errno;
        return Head;
    }
    if (!S_ISREG(St.st_mode)) {
        Head.Regular = false;
        return Head;
    }
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) {
        Head.OpenError = errno;
        return Head;
    }
    if (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
        Head.Regular = false;
        ::close(Fd);
        return Head;
    }
    // grown as the data comes: MaxSize is a bound, not a size to allocate
    size_t Done = 0;
    while (Done < MaxSize) {
        if (Head.Bytes.size() == Done)
            Head.Bytes.resize(Done + std::min<size_t>(MaxSize - Done, std::max<size_t>(Done, 65536)));
        const ssize_t N = ::read(Fd, Head.Bytes.data() + Done, Head.Bytes.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0)
            Head.ReadError = errno;
        if (N <= 0)
            break;
        Done += static_cast<size_t>(N);
    }
    Head.Bytes.resize(Done);
    ::close(Fd);
    return Head;
}

} // namespace zelvo
