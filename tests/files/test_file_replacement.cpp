// The helper on its own: what the sweep removes and spares, and failures that
// must leave neither a changed target nor a temporary file, with unnamed and
// with named temporaries.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files/file_replacement.h"
#include "files_fixture.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/other_user.h"

namespace zelvo::test {
namespace {

class TReplacement : public TFilesFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        TFilesFixture::SetUp();
        TFileReplacement::UseNamedTemporaries(GetParam());
    }
    void TearDown() override {
        TFileReplacement::SetTestHook(nullptr);
        TFileReplacement::UseNamedTemporaries(false);
        TFilesFixture::TearDown();
    }

    bool Replace(const fs::path& Target, const std::string& Bytes) {
        TFileReplacement F(Target.string());
        return F.Write(Bytes.data(), Bytes.size()) && F.Commit();
    }
};

// In a shared (sticky) folder, as the writer of tone.wav: only its own stale
// temporaries go, never what another user, another target or a live writer
// has. A program that merely has one open keeps its data through its
// descriptor; the name goes.
TEST_P(TReplacement, TheSweepRemovesOnlyThisTargetsOwnStaleTemporaries) {
    ASSERT_EQ(::chmod(Dir.c_str(), 01777), 0);
    enum TMake { Plain, Foreign, Held, Locked, HardLinked };
    const struct {
        const char* Name;
        int Age;  // seconds
        TMake Make;
        bool Removed;
    } Cases[] = {
        {".tone.wav.0123abcd.part", 120, Plain, true},  // what a killed writer left
        {".tone.wav.00000000.part", 3600, Plain, true},
        {".tone.wav.0badf00d.part", 120, Foreign, false},  // another user's
        {".notes.txt.0badf00d.part", 120, Plain, false},   // another target's
        {".tone.wav.2.0badf00d.part", 120, Plain, false},
        {".tone.wav.1111aaaa.part", 120, Held, true},      // open in a program, unlocked
        {".tone.wav.2222bbbb.part", 120, Locked, false},   // a live writer's
        {".tone.wav.3333cccc.part", 120, HardLinked, false},
        {".tone.wav.0123abce.part", 30, Plain, false},     // young: may be a live writer's
        {".tone.wav.0123ABCD.part", 120, Plain, false},    // capital hex: not ours
        {".tone.wav.0123abc.part", 120, Plain, false},     // seven digits
        {"tone.wav.0123abcd.part", 120, Plain, false},     // no leading dot
        {".tone.wav.0123abcd.partial", 120, Plain, false},
        {".tone.wav.0123abcd", 120, Plain, false},
    };
    std::vector<int> Open;
    for (const auto& C : Cases) {
        const fs::path P = Dir / C.Name;
        WriteAll(P, "debris", 0644);
        if (C.Make == Foreign) {
            if (::geteuid() != 0)
                continue;  // only root can give a file away; the row is then a plain stale one
            ASSERT_EQ(::chown(P.c_str(), 65534, 65534), 0);
        } else if (C.Make == Held || C.Make == Locked) {
            Open.push_back(::open(P.c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_GE(Open.back(), 0);
            if (C.Make == Locked) {
                ASSERT_EQ(::flock(Open.back(), LOCK_EX), 0);
            }
        } else if (C.Make == HardLinked) {
            ASSERT_EQ(::link(P.c_str(), (Dir / "keep").c_str()), 0);
        }
        Age(P, C.Age);
    }
    // a folder and a link of the pattern, the link pointing at a stale file of the pattern
    fs::create_directory(Dir / ".tone.wav.12345678.part");
    WriteAll(Dir / "aim", "aimed at", 0644);
    Age(Dir / "aim", 120);
    fs::create_symlink("aim", Dir / ".tone.wav.87654321.part");
    Age(Dir / ".tone.wav.12345678.part", 120);
    Age(Dir / ".tone.wav.87654321.part", 120);

    ASSERT_TRUE(Replace(Dir / "tone.wav", "new"));
    for (const int Fd : Open)
        ::close(Fd);

    for (const auto& C : Cases) {
        const bool Removed = C.Removed || (C.Make == Foreign && ::geteuid() != 0);
        EXPECT_EQ(fs::exists(fs::symlink_status(Dir / C.Name)), !Removed) << C.Name;
    }
    EXPECT_TRUE(fs::is_directory(Dir / ".tone.wav.12345678.part"));
    EXPECT_TRUE(fs::is_symlink(Dir / ".tone.wav.87654321.part"));
    EXPECT_EQ(ReadAll(Dir / "aim"), "aimed at");
    EXPECT_EQ(ReadAll(Dir / "keep"), "debris");
    EXPECT_EQ(ReadAll(Dir / "tone.wav"), "new");
}

TEST_P(TReplacement, AFailurePartWayOrADiscardLeavesTheTargetAndNoTemporary) {
    const fs::path Target = Dir / "kept.zvo";
    WriteAll(Target, "previous content", 0640);

    {
        const TFileSizeLimit Limit(4096);
        ASSERT_TRUE(Limit.Ok());
        EXPECT_FALSE(Replace(Target, std::string(10000, 'x')));
    }

    {
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("abandoned", 9));
        EXPECT_EQ(Entries().size(), GetParam() ? 2u : 1u) << "a named temporary only where asked for";
        F.Discard();
        EXPECT_FALSE(F.Ok());
        EXPECT_FALSE(F.Commit());
    }
    {
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("dropped by the destructor", 25));
    }
    EXPECT_EQ(ReadAll(Target), "previous content");
    EXPECT_EQ(Entries(), std::set<std::string>{"kept.zvo"});
}

TEST_P(TReplacement, ALongNameStillGetsATemporaryOfThePattern) {
    const fs::path Target = Dir / std::string(250, 'n');
    ASSERT_TRUE(Replace(Target, "first"));
    ASSERT_TRUE(Replace(Target, "second"));
    EXPECT_EQ(ReadAll(Target), "second");
    EXPECT_EQ(Entries().size(), 1u);
}

// What the name turns into between the kind check and the open. A FIFO was
// judged; the writer must never write over the file found instead.
TEST_P(TReplacement, ATargetSwappedBeforeTheInPlaceOpenIsNeverWrittenOver) {
    const std::string Old = "old content that is longer than the new one";
    const struct {
        const char* Name;
        const char* Final;  // where the new content must stand, whole
        bool Link;          // the name becomes a link to it
    } Cases[] = {{"RegularFile", "tone.wav", false}, {"LinkToAFile", "elsewhere", true}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        const fs::path Target = Dir / "tone.wav";
        fs::remove(Target);
        fs::remove(Dir / "elsewhere");
        ASSERT_EQ(::mkfifo(Target.c_str(), 0644), 0);
        WriteAll(Dir / "swap", Old, 0640);
        int Swaps = 0;
        TFileReplacement::SetTestHook([&](TFileReplacement::TStep Step, int) {
            if (Step != TFileReplacement::TStep::BeforeInPlaceOpen || Swaps++)
                return;
            if (C.Link) {
                fs::rename(Dir / "swap", Dir / "elsewhere");
                fs::remove(Target);
                fs::create_symlink("elsewhere", Target);
            } else {
                fs::rename(Dir / "swap", Target);
            }
        });
        EXPECT_TRUE(Replace(Target, "new"));
        TFileReplacement::SetTestHook(nullptr);
        EXPECT_EQ(Swaps, 1);
        EXPECT_EQ(ReadAll(Dir / C.Final), "new");
        EXPECT_EQ(fs::is_symlink(Target), C.Link);
        struct stat St;
        ASSERT_EQ(::stat((Dir / C.Final).c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 07777, 0640u) << "replaced as the file it is";
        const std::set<std::string> Expected =
            C.Link ? std::set<std::string>{"tone.wav", "elsewhere"} : std::set<std::string>{"tone.wav"};
        EXPECT_EQ(Entries(), Expected);
    }
}

// The folder is moved away and a new one takes its name while the file is
// written: the file lands in the folder it was begun in, and that folder is
// the one flushed.
TEST_P(TReplacement, AFolderReplacedMidWriteGetsTheFileAndTheFlush) {
    fs::create_directory(Dir / "out");
    const fs::path Target = Dir / "out" / "tone.wav";
    ino_t Flushed = 0;
    TFileReplacement::SetTestHook([&](TFileReplacement::TStep Step, int Fd) {
        struct stat St;
        if (Step == TFileReplacement::TStep::BeforeFolderFlush && ::fstat(Fd, &St) == 0)
            Flushed = St.st_ino;
    });
    {
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("first half, ", 12));
        fs::rename(Dir / "out", Dir / "moved");
        fs::create_directory(Dir / "out");
        ASSERT_TRUE(F.Write("second half", 11));
        EXPECT_TRUE(F.Commit());
    }
    TFileReplacement::SetTestHook(nullptr);
    EXPECT_EQ(ReadAll(Dir / "moved" / "tone.wav"), "first half, second half");
    EXPECT_FALSE(fs::exists(Dir / "out" / "tone.wav"));
    struct stat Moved;
    ASSERT_EQ(::stat((Dir / "moved").c_str(), &Moved), 0);
    EXPECT_EQ(Flushed, Moved.st_ino);
    EXPECT_EQ(Entries(), (std::set<std::string>{"moved", "moved/tone.wav", "out"}));
}

// Whoever opens a stale temporary while the sweep looks at it (an indexer, a
// backup tool, another user in /tmp) neither signals nor stops the writer.
TEST_P(TReplacement, AStaleTemporaryOpenedWhileTheSweepExaminesItHoldsNoWriteUp) {
    const fs::path Stale = Dir / ".tone.wav.0123abcd.part";
    WriteAll(Stale, "debris", 0644);
    Age(Stale, 120);
    int Opened = -1;
    TFileReplacement::SetTestHook([&](TFileReplacement::TStep Step, int) {
        if (Step == TFileReplacement::TStep::SweepExamines && Opened < 0)
            Opened = ::open(Stale.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    });
    EXPECT_TRUE(Replace(Dir / "tone.wav", "new"));
    TFileReplacement::SetTestHook(nullptr);
    ASSERT_GE(Opened, 0) << "the open was neither refused nor delayed";
    char Got[16] = {};
    EXPECT_EQ(::read(Opened, Got, sizeof Got), 6);
    EXPECT_STREQ(Got, "debris") << "the reader keeps what it opened";
    ::close(Opened);
    EXPECT_EQ(ReadAll(Dir / "tone.wav"), "new");
    EXPECT_EQ(Entries(), std::set<std::string>{"tone.wav"});
}

// While new content is written, nobody but the owner can open the
// temporary, whatever mode the target has; the mode comes with the complete
// content. Another user (where the tests can be one) is refused.
TEST_P(TReplacement, TheTemporaryIsOpenToItsOwnerAloneUntilTheContentIsComplete) {
    ASSERT_EQ(::chmod(Dir.c_str(), 0755), 0);
    const mode_t Umask = ::umask(027);
    const struct {
        const char* Name;
        int Mode;  // of the target before; -1: none
        mode_t After;
    } Cases[] = {{"ReadableByAll", 0644, 0644}, {"Private", 0600, 0600}, {"GroupWritable", 0664, 0664},
                 {"New", -1, 0640}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        const fs::path Target = Dir / C.Name;
        if (C.Mode >= 0)
            WriteAll(Target, "old", static_cast<mode_t>(C.Mode));
        int Temp = -1;
        TFileReplacement::SetTestHook([&](TFileReplacement::TStep Step, int Fd) {
            if (Step == TFileReplacement::TStep::TemporaryMade)
                Temp = Fd;
        });
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("new content", 11));
        struct stat St;
        ASSERT_EQ(::fstat(Temp, &St), 0);
        EXPECT_EQ(St.st_mode & 077, 0u) << std::oct << (St.st_mode & 07777);
        if (TOtherUser::Possible()) {
            // by its name, or through the kernel's link to the unnamed one
            std::string Name = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(Temp);
            for (const std::string& E : Entries())
                if (E.rfind("." + std::string(C.Name) + ".", 0) == 0)
                    Name = (Dir / E).string();
            const TOtherUser Other([&] { return ::open(Name.c_str(), O_RDONLY | O_NONBLOCK) < 0 && errno == EACCES; });
            EXPECT_TRUE(Other.Done()) << Name << " opened by another user";
        }
        ASSERT_TRUE(F.Commit());
        ASSERT_EQ(::stat(Target.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 07777, C.After);
        EXPECT_EQ(ReadAll(Target), "new content");
    }
    ::umask(Umask);
}

// A program that locks the new temporary before the writer can (only its
// owner can open it) delays the write; it never leaves the writer unlocked,
// where another writer's sweep could remove the live temporary. Held beyond
// the patience, the write fails and nothing is replaced.
TEST_P(TReplacement, ALockTakenFirstOnTheTemporaryIsWaitedForNeverWrittenPast) {
    const fs::path Target = Dir / "tone.wav";
    for (const bool Released : {true, false}) {
        SCOPED_TRACE(Released ? "released" : "held");
        WriteAll(Target, "old", 0644);
        int Holder = -1, Busy = 0;
        TFileReplacement::SetTestHook([&](TFileReplacement::TStep Step, int Fd) {
            if (Step == TFileReplacement::TStep::TemporaryMade) {
                Holder = ::open(("/proc/self/fd/" + std::to_string(Fd)).c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_EQ(::flock(Holder, LOCK_EX | LOCK_NB), 0);
            } else if (Step == TFileReplacement::TStep::TemporaryLockBusy && ++Busy == 2 && Released) {
                ::close(Holder);
                Holder = -1;
            }
        });
        TFileReplacement F(Target.string());
        TFileReplacement::SetTestHook(nullptr);
        EXPECT_GE(Busy, 2);
        if (Released && Holder >= 0)
            ::close(Holder);  // by the time the writing starts, at the latest
        if (!Released) {
            EXPECT_FALSE(F.Ok());
            EXPECT_EQ(F.Error(), EWOULDBLOCK);
            EXPECT_FALSE(F.Commit());
            ::close(Holder);
            EXPECT_EQ(ReadAll(Target), "old");
            EXPECT_EQ(Entries(), std::set<std::string>{"tone.wav"});
            continue;
        }
        ASSERT_TRUE(F.Write("new", 3));
        // looks a minute old, as after a stall: a second writer's sweep finds it locked
        for (const std::string& E : Entries())
            if (E != "tone.wav")
                Age(Dir / E, 120);
        ASSERT_TRUE(Replace(Target, "second"));
        EXPECT_TRUE(F.Commit()) << "the live temporary was swept";
        EXPECT_EQ(ReadAll(Target), "new");
        EXPECT_EQ(Entries(), std::set<std::string>{"tone.wav"});
    }
}

INSTANTIATE_TEST_SUITE_P(Temporaries, TReplacement, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& I) { return I.param ? "Named" : "Unnamed"; });

} // namespace
} // namespace zelvo::test
