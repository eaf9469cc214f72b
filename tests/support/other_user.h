#pragma once
// A process of another local user (nobody, 65534) that does something to our
// files and holds on to what it got (descriptors, locks) until this object
// goes. Only root can start one; tests that need it skip otherwise.
#include <cstdlib>
#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvo::test {

class TOtherUser {
public:
    static constexpr uid_t kUid = 65534;
    static bool Possible() { return ::geteuid() == 0; }

    // Act runs in the child as the other user; its answer is Done().
    explicit TOtherUser(const std::function<bool()>& Act) {
        int Answer[2], Release[2];
        if (::pipe(Answer) != 0 || ::pipe(Release) != 0)
            return;
        FChild = ::fork();
        if (FChild == 0) {
            ::close(Answer[0]);
            ::close(Release[1]);
            const bool Ok = ::setgroups(0, nullptr) == 0 && ::setgid(kUid) == 0 && ::setuid(kUid) == 0 && Act();
            const char Byte = Ok ? 1 : 0;
            (void)!::write(Answer[1], &Byte, 1);
            char Ignored;
            (void)!::read(Release[0], &Ignored, 1);  // until the parent lets go
            ::_exit(0);
        }
        ::close(Answer[1]);
        ::close(Release[0]);
        FRelease = Release[1];
        char Byte = 0;
        FDone = FChild > 0 && ::read(Answer[0], &Byte, 1) == 1 && Byte == 1;
        ::close(Answer[0]);
    }
    ~TOtherUser() {
        if (FRelease >= 0)
            ::close(FRelease);
        if (FChild > 0)
            ::waitpid(FChild, nullptr, 0);
    }
    TOtherUser(const TOtherUser&) = delete;
    TOtherUser& operator=(const TOtherUser&) = delete;

    // Act ran as the other user and answered true.
    bool Done() const { return FDone; }

private:
    pid_t FChild = -1;
    int FRelease = -1;
    bool FDone = false;
};

} // namespace zelvo::test
