// Every kind of target through each of the three writers of the user's files
// (WAV export, preset save, settings store): the outcome and its message, what
// the target is afterwards, the links still links, and nothing else left in
// the folder.
#include <QFile>
#include <QString>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/preset_file.h"
#include "files/file_replacement.h"
#include "files_fixture.h"
#include "platform/registry.h"
#include "victim.h"

namespace zelvo::test {
namespace {

// A reader that keeps a FIFO open and collects whatever writers send.
class TFifoReader {
public:
    explicit TFifoReader(const fs::path& Fifo) : TFifoReader(::open(Fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    // takes the read end Fd, which does not block
    explicit TFifoReader(int Fd) : FFd(Fd) {
        FThread = std::thread([this] {
            while (Drain() || !FStop)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    ~TFifoReader() { Stop(); }
    std::string Stop() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        Drain();
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        return FGot;
    }

private:
    bool Drain() {
        char Buf[65536];
        bool Any = false;
        for (ssize_t N; FFd >= 0 && (N = ::read(FFd, Buf, sizeof Buf)) > 0; Any = true)
            FGot.append(Buf, static_cast<size_t>(N));
        return Any;
    }
    int FFd = -1;
    std::atomic<bool> FStop{false};
    std::string FGot;
    std::thread FThread;
};

enum class TResult { Written, Refused, WriteFails };

struct TWriter {
    const char* Name;
    const char* FileName;
    std::string Old, New;
    // "" when the write succeeded, else the failure as the writer reports it
    std::function<std::string(const fs::path& Target)> Write;
    std::function<std::string(const fs::path& Target, TResult Result, int Errno)> Failure;
};

std::string RenderWave(const fs::path& Target) {
    TSynth S;
    PrepareVictimBank(S, "0.05");
    TSilentHost Host;
    WriteWaveData(S, Target.string(), Host);
    return Host.Outcome == TExportOutcome::eoCompleted ? "" : "eoFailed";
}

std::string ReferenceWave() {
    std::string Folder = (fs::temp_directory_path() / "zelvo-reference-XXXXXX").string();
    if (!::mkdtemp(Folder.data()))
        return {};
    RenderWave(fs::path(Folder) / "reference.wav");
    std::string Bytes = ReadAll(fs::path(Folder) / "reference.wav");
    fs::remove_all(Folder);
    return Bytes;
}

std::string PresetImage() {
    const std::vector<uint8_t> Image = PresetFileImage(TMemoryBank{});
    return std::string(Image.begin(), Image.end());
}

const std::vector<TWriter>& Writers() {
    static const std::vector<TWriter> W = {
        {"Wave", "tone.wav", "old wave", ReferenceWave(), RenderWave,
         [](const fs::path&, TResult, int) -> std::string { return "eoFailed"; }},
        {"Preset", "tones.zvo", "old preset", PresetImage(),
         [](const fs::path& Target) -> std::string {
             try {
                 const std::string Image = PresetImage();
                 WriteWholeFile(QFile::decodeName(Target.c_str()), std::vector<uint8_t>(Image.begin(), Image.end()));
             } catch (const EFileError& E) {
                 return E.what();
             }
             return "";
         },
         [](const fs::path& Target, TResult R, int Errno) -> std::string {
             if (R == TResult::WriteFails)
                 return "Stream write error";
             return "Cannot create file \"" + Target.string() + "\". " + std::strerror(Errno);
         }},
        {"Settings", "Zelvo.ini", "[Software\\Quorvin\\Zelvo]\nFs=1\n", "[Software\\Quorvin\\Zelvo]\nFs=5\n",
         [](const fs::path& Target) -> std::string {
             TRegistry::SetStorageFolder(QFile::decodeName(Target.parent_path().c_str()));
             TRegistry Reg;
             Reg.OpenKey(QString::fromLatin1(kSettingsKey), true);  // there already, or made by this write
             try {
                 Reg.WriteInteger(QStringLiteral("Fs"), 5);
             } catch (const ERegistryException& E) {
                 return E.what();
             }
             return "";
         },
         [](const fs::path&, TResult, int) -> std::string { return "Failed to set data for 'Fs'"; }},
    };
    return W;
}

constexpr int kAnyMode = -1;  // not checked
constexpr int kNewMode = -2;  // a new file's: 0666 less the umask

struct TCase {
    const char* Name;
    // Makes the target for a writer, its old content where there is a file;
    // returns the path the writer is given, or sets Skip.
    std::function<fs::path(const fs::path& Dir, const TWriter& W, std::string& Skip)> Make;
    TResult Result;
    int Errno;               // what a refusal reports
    const char* Final;       // the file finally named, below the folder; "@" is the writer's name
    mode_t Kind;             // its S_IFMT afterwards
    int Mode;                // its permission bits afterwards
    std::vector<std::string> Entries;  // everything in the folder afterwards
    std::vector<std::string> Links;    // entries that stay links
};

std::string Named(std::string Pattern, const TWriter& W) {
    for (size_t At; (At = Pattern.find('@')) != std::string::npos;)
        Pattern.replace(At, 1, W.FileName);
    return Pattern;
}

// A device node made with mknod, where the test may make and open one.
fs::path MakeDevice(const fs::path& At, dev_t Device, std::string& Skip) {
    if (::mknod(At.c_str(), S_IFCHR | 0600, Device) != 0) {
        Skip = std::string("mknod is not allowed here: ") + std::strerror(errno);
        return At;
    }
    const int Fd = ::open(At.c_str(), O_WRONLY | O_CLOEXEC);
    if (Fd < 0)
        Skip = std::string("the device node cannot be opened (a nodev mount?): ") + std::strerror(errno);
    else
        ::close(Fd);
    return At;
}

const std::vector<TCase>& Cases() {
    using F = std::string;
    static const std::vector<TCase> C = {
        {"NewFile", [](const fs::path& D, const TWriter& W, F&) { return D / W.FileName; },
         TResult::Written, 0, "@", S_IFREG, kNewMode, {"@"}, {}},
        {"ExistingFile0640",
         [](const fs::path& D, const TWriter& W, F&) {
             WriteAll(D / W.FileName, W.Old, 0640);
             if (::geteuid() == 0) {
                 EXPECT_EQ(::chown((D / W.FileName).c_str(), 4321, 4321), 0);
             }
             return D / W.FileName;
         },
         TResult::Written, 0, "@", S_IFREG, 0640, {"@"}, {}},
        {"LinkToAFile",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_directory(D / "elsewhere");
             WriteAll(D / "elsewhere" / "real", W.Old, 0600);
             fs::create_symlink("elsewhere/real", D / W.FileName);
             return D / W.FileName;
         },
         TResult::Written, 0, "elsewhere/real", S_IFREG, 0600, {"@", "elsewhere", "elsewhere/real"}, {"@"}},
        {"ChainOfTwoLinks",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_directory(D / "elsewhere");
             WriteAll(D / "elsewhere" / "real", W.Old, 0600);
             fs::create_symlink(D / "elsewhere" / "real", D / "hop");
             fs::create_symlink("hop", D / W.FileName);
             return D / W.FileName;
         },
         TResult::Written, 0, "elsewhere/real", S_IFREG, 0600, {"@", "hop", "elsewhere", "elsewhere/real"},
         {"@", "hop"}},
        {"DanglingLinkGetsItsFile",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_directory(D / "elsewhere");
             fs::create_symlink("elsewhere/real", D / W.FileName);
             return D / W.FileName;
         },
         TResult::Written, 0, "elsewhere/real", S_IFREG, kNewMode, {"@", "elsewhere", "elsewhere/real"}, {"@"}},
        // only the kernel's own links to pipes are read as no path
        {"DanglingLinkThatReadsLikeAPipe",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_symlink("pipe:[1]", D / W.FileName);
             return D / W.FileName;
         },
         TResult::Written, 0, "pipe:[1]", S_IFREG, kNewMode, {"@", "pipe:[1]"}, {"@"}},
        // judged by the owner's write bit, so root is refused as well
        {"ReadOnlyFile",
         [](const fs::path& D, const TWriter& W, F&) {
             WriteAll(D / W.FileName, W.Old, 0444);
             return D / W.FileName;
         },
         TResult::Refused, EACCES, "@", S_IFREG, 0444, {"@"}, {}},
        {"ReadOnlyFolder",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_directory(D / "ro");
             WriteAll(D / "ro" / W.FileName, W.Old, 0644);
             EXPECT_EQ(::chmod((D / "ro").c_str(), 0555), 0);
             return D / "ro" / W.FileName;
         },
         TResult::Refused, EACCES, "ro/@", S_IFREG, 0644, {"ro", "ro/@"}, {}},
        {"Directory",
         [](const fs::path& D, const TWriter& W, F&) {
             fs::create_directory(D / W.FileName);
             return D / W.FileName;
         },
         TResult::Refused, EISDIR, "@", S_IFDIR, kAnyMode, {"@"}, {}},
        {"NullDevice",
         [](const fs::path& D, const TWriter& W, F& Skip) { return MakeDevice(D / W.FileName, makedev(1, 3), Skip); },
         TResult::Written, 0, "@", S_IFCHR, 0600, {"@"}, {}},
        {"FullDevice",
         [](const fs::path& D, const TWriter& W, F& Skip) { return MakeDevice(D / W.FileName, makedev(1, 7), Skip); },
         TResult::WriteFails, ENOSPC, "@", S_IFCHR, 0600, {"@"}, {}},
        {"FifoWithAReader",
         [](const fs::path& D, const TWriter& W, F&) {
             EXPECT_EQ(::mkfifo((D / W.FileName).c_str(), 0644), 0);
             return D / W.FileName;
         },
         TResult::Written, 0, "@", S_IFIFO, 0644, {"@"}, {}},
        {"FifoWithoutAReader",
         [](const fs::path& D, const TWriter& W, F&) {
             EXPECT_EQ(::mkfifo((D / W.FileName).c_str(), 0644), 0);
             return D / W.FileName;
         },
         TResult::Refused, ENXIO, "@", S_IFIFO, 0644, {"@"}, {}},
    };
    return C;
}

class TTargetKinds : public TFilesFixture, public ::testing::WithParamInterface<std::tuple<size_t, size_t>> {
protected:
    void TearDown() override {
        TRegistry::SetStorageFolder(QString());
        TFilesFixture::TearDown();
    }
};

TEST_P(TTargetKinds, Write) {
    const TCase& C = Cases()[std::get<0>(GetParam())];
    const TWriter& W = Writers()[std::get<1>(GetParam())];
    ASSERT_FALSE(W.New.empty());
    std::string Skip;
    const fs::path Target = C.Make(Dir, W, Skip);
    if (!Skip.empty())
        GTEST_SKIP() << Skip;
    const fs::path Final = Dir / Named(C.Final, W);
    std::unique_ptr<TFifoReader> Reader;
    if (std::string(C.Name) == "FifoWithAReader")
        Reader = std::make_unique<TFifoReader>(Final);
    std::vector<std::string> LinkTexts;
    for (const std::string& L : C.Links)
        LinkTexts.push_back(fs::read_symlink(Dir / Named(L, W)).string());

    const std::string Message = W.Write(Target);

    EXPECT_EQ(Message, C.Result == TResult::Written ? "" : W.Failure(Target, C.Result, C.Errno));
    struct stat St;
    ASSERT_EQ(::lstat(Final.c_str(), &St), 0) << Final;
    EXPECT_EQ(St.st_mode & S_IFMT, C.Kind);
    if (C.Mode != kAnyMode) {
        EXPECT_EQ(St.st_mode & 07777, C.Mode == kNewMode ? DefaultMode() : static_cast<mode_t>(C.Mode));
    }
    if (std::string(C.Name) == "ExistingFile0640" && ::geteuid() == 0) {
        EXPECT_EQ(St.st_uid, 4321u) << "the owner is kept";
        EXPECT_EQ(St.st_gid, 4321u) << "the group is kept";
    }
    if (Reader) {
        const std::string Got = Reader->Stop();
        EXPECT_TRUE(Got.size() >= W.New.size() && Got.compare(Got.size() - W.New.size(), W.New.size(), W.New) == 0)
            << "the reader got " << Got.size() << " bytes";
    } else if (C.Kind == S_IFREG) {
        EXPECT_EQ(ReadAll(Final), C.Result == TResult::Written ? W.New : W.Old);
    }
    for (size_t I = 0; I < C.Links.size(); ++I) {
        const fs::path Link = Dir / Named(C.Links[I], W);
        EXPECT_TRUE(fs::is_symlink(Link)) << Link;
        EXPECT_EQ(fs::read_symlink(Link).string(), LinkTexts[I]) << Link;
    }
    std::set<std::string> Expected;
    for (const std::string& E : C.Entries)
        Expected.insert(Named(E, W));
    EXPECT_EQ(Entries(), Expected) << "nothing else in the folder";
}

INSTANTIATE_TEST_SUITE_P(Table, TTargetKinds,
                         ::testing::Combine(::testing::Range<size_t>(0, Cases().size()),
                                            ::testing::Range<size_t>(0, Writers().size())),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& I) {
                             return std::string(Cases()[std::get<0>(I.param)].Name) + "_" +
                                    Writers()[std::get<1>(I.param)].Name;
                         });

// The target is a link to one of the program's own descriptors (/dev/stdout,
// /dev/fd/N), as a shell sets up "> /dev/stdout | other-program". A pipe or a
// socket behind it is written in place; a regular file behind it is replaced
// by its path, as any linked file is; a deleted one has no path and is refused,
// with nothing made under the name it had.
enum class TFdKind { PipeAsStdout, PipeAsDevFd, SocketAsDevFd, FileAsStdout, DeletedFileAsDevFd, End };
const char* FdKindName(size_t K) {
    static const char* const Names[] = {"PipeAsStdout", "PipeAsDevFd", "SocketAsDevFd", "FileAsStdout",
                                        "DeletedFileAsDevFd"};
    return Names[K];
}

class TFdTarget : public TFilesFixture, public ::testing::WithParamInterface<std::tuple<size_t, size_t>> {
protected:
    void TearDown() override {
        if (FSavedStdout >= 0)
            RestoreStdout();
        TRegistry::SetStorageFolder(QString());
        TFilesFixture::TearDown();
    }
    // Fd becomes the program's standard output until RestoreStdout.
    void UseAsStdout(int Fd) {
        FSavedStdout = ::dup(1);
        ASSERT_GE(FSavedStdout, 0);
        ASSERT_EQ(::dup2(Fd, 1), 1);
        ::close(Fd);
    }
    void RestoreStdout() {
        ::dup2(FSavedStdout, 1);
        ::close(FSavedStdout);
        FSavedStdout = -1;
    }
    int FSavedStdout = -1;
};

TEST_P(TFdTarget, Write) {
    const auto Kind = static_cast<TFdKind>(std::get<0>(GetParam()));
    const TWriter& W = Writers()[std::get<1>(GetParam())];
    int Ends[2];
    if (Kind == TFdKind::SocketAsDevFd) {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, Ends), 0);
    } else if (Kind == TFdKind::PipeAsStdout || Kind == TFdKind::PipeAsDevFd) {
        ASSERT_EQ(::pipe2(Ends, O_NONBLOCK | O_CLOEXEC), 0);
    }
    std::unique_ptr<TFifoReader> Reader;
    std::string LinkText;
    int Kept = -1;
    if (Kind == TFdKind::FileAsStdout) {
        WriteAll(Dir / "out", W.Old, 0640);
        const int Fd = ::open((Dir / "out").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_GE(Fd, 0);
        UseAsStdout(Fd);
        LinkText = "/dev/stdout";
    } else if (Kind == TFdKind::DeletedFileAsDevFd) {
        WriteAll(Dir / "gone", W.Old, 0640);
        Kept = ::open((Dir / "gone").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(Kept, 0);
        fs::remove(Dir / "gone");
        LinkText = "/dev/fd/" + std::to_string(Kept);
    } else {
        Reader = std::make_unique<TFifoReader>(Ends[0]);
        if (Kind == TFdKind::PipeAsStdout) {
            UseAsStdout(Ends[1]);
            LinkText = "/dev/stdout";
        } else {
            Kept = Ends[1];
            LinkText = "/dev/fd/" + std::to_string(Kept);
        }
    }
    const fs::path Target = Dir / W.FileName;
    fs::create_symlink(LinkText, Target);

    const std::string Message = W.Write(Target);

    if (FSavedStdout >= 0)
        RestoreStdout();
    if (Kept >= 0)
        ::close(Kept);
    if (Kind == TFdKind::DeletedFileAsDevFd) {
        EXPECT_EQ(Message, W.Failure(Target, TResult::Refused, ENOENT));
        EXPECT_EQ(Entries(), std::set<std::string>{W.FileName});
    } else if (Reader) {
        EXPECT_EQ(Message, "");
        const std::string Got = Reader->Stop();
        EXPECT_TRUE(Got.size() >= W.New.size() && Got.compare(Got.size() - W.New.size(), W.New.size(), W.New) == 0)
            << "the reader got " << Got.size() << " bytes";
        EXPECT_EQ(Entries(), std::set<std::string>{W.FileName});
    } else {
        EXPECT_EQ(Message, "");
        EXPECT_EQ(ReadAll(Dir / "out"), W.New);
        struct stat St;
        ASSERT_EQ(::stat((Dir / "out").c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 07777, 0640u);
        EXPECT_EQ(Entries(), (std::set<std::string>{W.FileName, "out"}));
    }
    EXPECT_EQ(fs::read_symlink(Target).string(), LinkText);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TFdTarget,
                         ::testing::Combine(::testing::Range<size_t>(0, static_cast<size_t>(TFdKind::End)),
                                            ::testing::Range<size_t>(0, Writers().size())),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& I) {
                             return std::string(FdKindName(std::get<0>(I.param))) + "_" +
                                    Writers()[std::get<1>(I.param)].Name;
                         });

// A FIFO whose reader goes away or stops reading, through each writer.
// Parameter: (how the reader goes, the writer).
template <class TParam>
class TPipeFixture : public TFilesFixture, public ::testing::WithParamInterface<TParam> {
protected:
    void TearDown() override {
        TFileReplacement::SetTestHook(nullptr);
        TRegistry::SetStorageFolder(QString());
        TFilesFixture::TearDown();
    }
    fs::path MakeFifo(const TWriter& W) {
        const fs::path Fifo = Dir / W.FileName;
        EXPECT_EQ(::mkfifo(Fifo.c_str(), 0644), 0);
        return Fifo;
    }
};
using TClosingReader = TPipeFixture<std::tuple<size_t, size_t>>;
using TStalledReader = TPipeFixture<size_t>;

bool SigpipePending() {
    sigset_t Pending;
    sigpending(&Pending);
    return sigismember(&Pending, SIGPIPE);
}

// Parameter 0: how the reader goes. SIGPIPE keeps its default action here, so
// a signal that got through would end the test program.
enum TReaderEnd { kClosesAtOpen, kClosesAtOpenWithSigpipePending, kClosesAfter1000Bytes, kReaderEnds };
const char* ReaderEndName(size_t End) {
    static const char* const Names[] = {"ClosesAtOpen", "ClosesAtOpenWithSigpipePending", "ClosesAfter1000Bytes"};
    return Names[End];
}

TEST_P(TClosingReader, RaisesNoSignalAndTheWriteFails) {
    const auto End = static_cast<TReaderEnd>(std::get<0>(GetParam()));
    const TWriter& W = Writers()[std::get<1>(GetParam())];
    const fs::path Fifo = MakeFifo(W);
    int Reader = ::open(Fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Reader, 0);
    std::thread Slow;
    if (End == kClosesAfter1000Bytes) {
        Slow = std::thread([Reader] {
            char Buf[1000];
            for (size_t Got = 0; Got < sizeof Buf;) {
                const ssize_t N = ::read(Reader, Buf, sizeof Buf - Got);
                if (N > 0)
                    Got += static_cast<size_t>(N);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ::close(Reader);
        });
    } else {
        TFileReplacement::SetTestHook([&Reader](TFileReplacement::TStep Step, int) {
            if (Step == TFileReplacement::TStep::InPlaceOpened && Reader >= 0) {
                ::close(Reader);
                Reader = -1;
            }
        });
    }
    sigset_t Pipe, Old;
    sigemptyset(&Pipe);
    sigaddset(&Pipe, SIGPIPE);
    if (End == kClosesAtOpenWithSigpipePending) {
        ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &Pipe, &Old), 0);
        ASSERT_EQ(::raise(SIGPIPE), 0);
        ASSERT_TRUE(SigpipePending());
    }

    std::string Message;
    if (End == kClosesAfter1000Bytes) {
        // longer than the pipe holds, so the writer meets the reader's end
        TSynth S;
        PrepareVictimBank(S, "2");
        TSilentHost Host;
        WriteWaveData(S, Fifo.string(), Host);
        Message = Host.Outcome == TExportOutcome::eoCompleted ? "" : "eoFailed";
    } else {
        Message = W.Write(Fifo);
    }

    EXPECT_FALSE(SigpipePending());
    if (End == kClosesAtOpenWithSigpipePending)
        pthread_sigmask(SIG_SETMASK, &Old, nullptr);
    if (Slow.joinable())
        Slow.join();
    EXPECT_EQ(Message, W.Failure(Fifo, TResult::WriteFails, EPIPE));
    EXPECT_TRUE(fs::is_fifo(Fifo));
    EXPECT_EQ(Entries(), std::set<std::string>{W.FileName});
}

// A host that cancels a while after the target stopped taking data.
struct TCancellingHost : TSilentHost {
    void WaitForTarget() override { ++Waits; }
    bool CancelRequested() override { return Waits >= 10; }
    int Waits = 0;
};

TEST_P(TStalledReader, HoldsNoWriterUp) {
    const TWriter& W = Writers()[GetParam()];
    const fs::path Fifo = MakeFifo(W);
    const int Reader = ::open(Fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Reader, 0);
    // the pipe is full before the writer starts: the reader never reads
    const int Filler = ::open(Fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Filler, 0);
    const std::string Chunk(4096, 'f');
    size_t Filled = 0;
    for (ssize_t N; (N = ::write(Filler, Chunk.data(), Chunk.size())) > 0;)
        Filled += static_cast<size_t>(N);
    ::close(Filler);

    const auto Start = std::chrono::steady_clock::now();
    std::string Message;
    TCancellingHost Host;
    if (std::string(W.Name) == "Wave") {
        TSynth S;
        PrepareVictimBank(S, "0.05");
        WriteWaveData(S, Fifo.string(), Host);
        EXPECT_EQ(Host.Outcome, TExportOutcome::eoCancelled);
        EXPECT_EQ(Host.Waits, 10) << "the cancel ends the wait at once";
    } else {
        Message = W.Write(Fifo);
        EXPECT_EQ(Message, W.Failure(Fifo, TResult::WriteFails, ETIMEDOUT));
    }
    const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    if (std::string(W.Name) == "Wave") {
        EXPECT_LT(Seconds, 2.0);
    } else {
        EXPECT_GE(Seconds, TFileReplacement::kStallSeconds - 0.1) << "gives up only after a few seconds";
        EXPECT_LT(Seconds, TFileReplacement::kStallSeconds + 10.0);
    }
    // what reached the pipe stays; nothing is deleted
    std::string Got(Filled + 1, '\0');
    EXPECT_EQ(::read(Reader, Got.data(), Got.size()), static_cast<ssize_t>(Filled));
    ::close(Reader);
    EXPECT_TRUE(fs::is_fifo(Fifo));
    EXPECT_EQ(Entries(), std::set<std::string>{W.FileName});
}

// A small file fits the pipe whole: it is written before a reader could stop
// after 1000 bytes, so that case is the export's alone.
std::vector<std::tuple<size_t, size_t>> ClosingCases() {
    std::vector<std::tuple<size_t, size_t>> Cases;
    for (size_t End = 0; End < kReaderEnds; ++End)
        for (size_t W = 0; W < Writers().size(); ++W)
            if (End != kClosesAfter1000Bytes || std::string(Writers()[W].Name) == "Wave")
                Cases.emplace_back(End, W);
    return Cases;
}

INSTANTIATE_TEST_SUITE_P(Writers, TClosingReader, ::testing::ValuesIn(ClosingCases()),
                         [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& I) {
                             return std::string(ReaderEndName(std::get<0>(I.param))) + "_" +
                                    Writers()[std::get<1>(I.param)].Name;
                         });
INSTANTIATE_TEST_SUITE_P(Writers, TStalledReader, ::testing::Range<size_t>(0, Writers().size()),
                         [](const ::testing::TestParamInfo<size_t>& I) { return std::string(Writers()[I.param].Name); });

} // namespace
} // namespace zelvo::test
