#pragma once
// A file system that refuses every byte beyond the first Bytes of a file, while
// this object lives: a write that fails part-way, for root as well.
#include <csignal>
#include <sys/resource.h>

namespace zelvo::test {

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t Bytes) {
        getrlimit(RLIMIT_FSIZE, &FSaved);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit Small = FSaved;
        Small.rlim_cur = Bytes;
        FOk = setrlimit(RLIMIT_FSIZE, &Small) == 0;
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FOldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    bool Ok() const { return FOk; }

private:
    rlimit FSaved{};
    void (*FOldHandler)(int) = nullptr;
    bool FOk = false;
};

} // namespace zelvo::test
