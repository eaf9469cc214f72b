#include "platform/registry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/lock_file.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/other_user.h"

using zelvo::ERegistryException;
using zelvo::TRegistry;

namespace {

const QString Key = QStringLiteral("\\Software\\Quorvin\\Zelvo");

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        Folder = Temp.filePath(QStringLiteral("config"));
        TRegistry::SetStorageFolder(Folder);
    }
    void TearDown() override {
        TRegistry::SetStorageFolder(QString());
        zelvo::TLockFile::SetTestHook({});
    }

    QString FilePath() const { return QDir(Folder).filePath(QStringLiteral("Zelvo.ini")); }

    void WriteRaw(const QByteArray& Data) {
        ASSERT_TRUE(QDir().mkpath(Folder));
        QFile F(FilePath());
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write(Data);
    }

    QByteArray ReadRaw() const {
        QFile F(FilePath());
        return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
    }

    QTemporaryDir Temp;
    QString Folder;
};

// The message of the exception that Fn throws, or "" when it throws none.
template <class F>
std::string ErrorOf(F&& Fn) {
    try {
        Fn();
    } catch (const ERegistryException& E) {
        return E.what();
    }
    return {};
}

TEST_F(RegistryTest, KeyIsMissingUntilCreated) {
    TRegistry Reg;
    EXPECT_FALSE(Reg.KeyExists(Key));
    EXPECT_FALSE(Reg.OpenKey(Key, false));
    EXPECT_FALSE(QFile::exists(FilePath())) << "looking must not create anything";

    EXPECT_TRUE(Reg.OpenKey(Key, true));
    EXPECT_TRUE(QFile::exists(FilePath()));
    EXPECT_TRUE(Reg.KeyExists(Key));
    EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\Software\\Quorvin")));  // parents exist
    EXPECT_TRUE(Reg.KeyExists(QStringLiteral("\\software\\QUORVIN\\zelvo\\")));
    EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Quorvin\\Other")));
    EXPECT_FALSE(Reg.ValueExists(QStringLiteral("Fs")));

    TRegistry Other;
    EXPECT_TRUE(Other.OpenKey(Key, false));
}

TEST_F(RegistryTest, IntegersRoundTripThroughTheFile) {
    const struct {
        const char* Name;
        int32_t Value;
    } Cases[] = {{"Fs", 5}, {"Buffers", 0}, {"WaveDevice", -1}, {"Low", INT32_MIN}, {"High", INT32_MAX}};
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
        for (const auto& C : Cases) {
            EXPECT_FALSE(Reg.ValueExists(QString::fromLatin1(C.Name)));
            Reg.WriteInteger(QString::fromLatin1(C.Name), C.Value);
            EXPECT_TRUE(Reg.ValueExists(QString::fromLatin1(C.Name)));
        }
        Reg.WriteInteger(QStringLiteral("fs"), 4);  // names ignore case: replaces "Fs"
    }
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), 4);
    EXPECT_EQ(ReadRaw().count("Fs="), 1) << ReadRaw().constData();
    for (const auto& C : Cases) {
        if (QString::fromLatin1(C.Name) != QStringLiteral("Fs")) {
            EXPECT_EQ(Reg.ReadInteger(QString::fromLatin1(C.Name)), C.Value) << C.Name;
        }
    }
}

TEST_F(RegistryTest, TwoObjectsSeeEachOthersWrites) {
    TRegistry A, B;
    ASSERT_TRUE(A.OpenKey(Key, true));
    ASSERT_TRUE(B.OpenKey(Key, false));
    A.WriteInteger(QStringLiteral("Fs"), 3);
    EXPECT_TRUE(B.ValueExists(QStringLiteral("Fs")));
    EXPECT_EQ(B.ReadInteger(QStringLiteral("Fs")), 3);
    B.WriteInteger(QStringLiteral("Buffers"), 1);
    A.WriteInteger(QStringLiteral("Fs"), 2);  // must not drop B's value
    EXPECT_EQ(B.ReadInteger(QStringLiteral("Buffers")), 1);
    EXPECT_EQ(B.ReadInteger(QStringLiteral("Fs")), 2);
}

TEST_F(RegistryTest, HandEditedFileIsReadAndOtherKeysSurviveAWrite) {
    WriteRaw("; settings\n[software\\quorvin\\zelvo]\n  fs = 4 \n\n[Software\\Other]\nKeep=7\n");
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), 4);
    Reg.WriteInteger(QStringLiteral("Buffers"), 2);
    ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Other"), false));
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Keep")), 7);
}

// A name or key that comes again in another letter case (as Qt folds it, also
// beyond ASCII) keeps its first place and spelling and takes the last text.
TEST_F(RegistryTest, RepeatedNamesKeepTheirFirstPlaceAndTheLastText) {
    WriteRaw(QStringLiteral(u"[Software\\Quorvin\\Zelvo]\n\u00C4x=1\nBuffers=2\n\u00E4X=3\n\U00010400=4\n"
                            u"\U00010428=5\n\u03C2=6\n\u03A3=7\n\u1E9E=8\n\u00DF=9\nss=10\n[Software\\Other]\n"
                            u"K=1\n[software\\quorvin\\ZELVO]\nbuffers=11\n[SOFTWARE\\other]\nk=2\n")
                 .toUtf8());
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    Reg.WriteInteger(QStringLiteral("New"), 12);
    EXPECT_EQ(QString::fromUtf8(ReadRaw()),
              QStringLiteral(u"[Software\\Quorvin\\Zelvo]\n\u00C4x=3\nBuffers=11\n\U00010400=5\n\u03C2=7\n"
                             u"\u1E9E=9\nss=10\nNew=12\n\n[Software\\Other]\nK=2\n"));
}

TEST_F(RegistryTest, ReadErrorsCarryTheValueName) {
    const char* NotIntegers[] = {"abc", "1.5", "", "4294967296", "-2147483649", "0x10", "5 6"};
    for (const char* Text : NotIntegers) {
        WriteRaw(QByteArray("[Software\\Quorvin\\Zelvo]\nFs=") + Text + "\n");
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, false));
        EXPECT_TRUE(Reg.ValueExists(QStringLiteral("Fs"))) << Text;
        EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger(QStringLiteral("Fs")); }), "Invalid data type for 'Fs'")
            << Text;
    }
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger(QStringLiteral("Buffers")); }),
              "Failed to get data for 'Buffers'");
    Reg.CloseKey();
    EXPECT_FALSE(Reg.ValueExists(QStringLiteral("Fs")));
    EXPECT_EQ(ErrorOf([&] { Reg.ReadInteger(QStringLiteral("Fs")); }), "Failed to get data for 'Fs'");
    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Fs"), 1); }), "Failed to set data for 'Fs'");
}

TEST_F(RegistryTest, FolderUnderARegularFileCannotBeWritten) {
    QFile Blocker(Temp.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(Blocker.open(QIODevice::WriteOnly));
    Blocker.close();
    TRegistry::SetStorageFolder(Temp.filePath(QStringLiteral("plain/config")));
    TRegistry Reg;
    EXPECT_FALSE(Reg.KeyExists(Key));
    EXPECT_FALSE(Reg.OpenKey(Key, true));
    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("WaveDevice"), 0); }),
              "Failed to set data for 'WaveDevice'");
}

TEST_F(RegistryTest, ReadOnlyFolderRefusesWrites) {
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
        Reg.WriteInteger(QStringLiteral("Fs"), 1);
    }
    const QString Other = Temp.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(Other));
    const auto ReadOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup;
    ASSERT_TRUE(QFile::setPermissions(Folder, ReadOnly));
    ASSERT_TRUE(QFile::setPermissions(Other, ReadOnly));
    // a folder without its owner's write bit is read-only for root too
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));  // reading still works
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), 1);
    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Buffers"), 2); }),
              "Failed to set data for 'Buffers'");
    EXPECT_FALSE(Reg.ValueExists(QStringLiteral("Buffers")));

    TRegistry::SetStorageFolder(Other);
    EXPECT_FALSE(Reg.OpenKey(Key, true)) << "a key that cannot be created is not open";
    QFile::setPermissions(Folder, ReadOnly | QFile::WriteOwner);
    QFile::setPermissions(Other, ReadOnly | QFile::WriteOwner);
}

TEST_F(RegistryTest, UnreadableStoreIsNeverReplaced) {
    // A directory where the file should be: it exists but cannot be read as one.
    ASSERT_TRUE(QDir().mkpath(FilePath()));
    TRegistry Reg;
    EXPECT_FALSE(Reg.KeyExists(Key));
    EXPECT_FALSE(Reg.OpenKey(Key, true));
    EXPECT_TRUE(QFileInfo(FilePath()).isDir());
}

// Where the file system keeps no locks, changes are made without one; any
// other failure to lock still refuses them.
TEST_F(RegistryTest, FolderIsChangedUnlockedOnlyWhereTheFileSystemHasNoLocks) {
    const struct {
        const char* What;
        int Errno;
        bool Saved;
    } Cases[] = {{"ENOLCK", ENOLCK, true},
                 {"EOPNOTSUPP", EOPNOTSUPP, true},
                 {"ENOSYS", ENOSYS, true},
                 {"EINVAL", EINVAL, true},
                 {"EIO", EIO, false}};
    const QByteArray Before = "[Software\\Quorvin\\Zelvo]\nFs=1\n";
    const QString New = QStringLiteral("\\Software\\Quorvin\\New");
    for (const auto& C : Cases) {
        WriteRaw(Before);
        int Calls = 0;
        zelvo::TLockFile::SetTestHook([&](int, int) {
            ++Calls;
            errno = C.Errno;
            return -1;
        });
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, false)) << C.What;  // reading takes no lock
        const std::string Error = ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Fs"), 3); });
        EXPECT_EQ(Reg.OpenKey(New, true), C.Saved) << C.What;
        zelvo::TLockFile::SetTestHook({});

        EXPECT_EQ(Calls, 2) << C.What;
        if (C.Saved) {
            EXPECT_EQ(Error, "") << C.What;
            EXPECT_EQ(ReadRaw(), "[Software\\Quorvin\\Zelvo]\nFs=3\n\n[Software\\Quorvin\\New]\n") << C.What;
        } else {
            EXPECT_EQ(Error, "Failed to set data for 'Fs'") << C.What;
            EXPECT_EQ(ReadRaw(), Before) << C.What;
        }
    }
}

// Whatever another user does to the settings folder (here one they may
// write, holding a settings file they may read), no change waits for them:
// the lock is a file of ours that they cannot open.
TEST_F(RegistryTest, AnotherUserCanNeitherBlockNorDelayAChange) {
    if (!zelvo::test::TOtherUser::Possible())
        GTEST_SKIP() << "only root can act as another user";
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
        Reg.WriteInteger(QStringLiteral("Fs"), 1);
    }
    const std::string Dir = QFile::encodeName(Folder).toStdString(), Ini = Dir + "/Zelvo.ini",
                      Lock = Ini + ".lock", Theirs = Dir + "/theirs";
    ASSERT_EQ(::chmod(QFile::encodeName(Temp.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(Dir.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(Ini.c_str(), 0666), 0);
    auto Locked = [](int Fd) { return Fd >= 0 && ::flock(Fd, LOCK_EX | LOCK_NB) == 0; };
    const struct {
        const char* What;
        std::function<bool()> Act;
    } Cases[] = {
        {"locks the folder", [&] { return Locked(::open(Dir.c_str(), O_RDONLY | O_DIRECTORY)); }},
        {"locks the settings file", [&] { return Locked(::open(Ini.c_str(), O_RDONLY)); }},
        {"makes the lock file first and locks it",
         [&] {
             const int Fd = ::open(Lock.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
             return Fd >= 0 && ::fchmod(Fd, 0666) == 0 && Locked(Fd);
         }},
        {"links the lock file's name to a file it locks",
         [&] {
             return Locked(::open(Theirs.c_str(), O_RDWR | O_CREAT, 0666)) && ::symlink(Theirs.c_str(), Lock.c_str()) == 0;
         }},
        {"puts a FIFO under the lock file's name", [&] { return ::mkfifo(Lock.c_str(), 0666) == 0; }},
    };
    int32_t Value = 2;
    for (const auto& C : Cases) {
        ::unlink(Lock.c_str());
        ::unlink(Theirs.c_str());
        const zelvo::test::TOtherUser Other(C.Act);
        ASSERT_TRUE(Other.Done()) << C.What;
        int Busy = 0;
        zelvo::TLockFile::SetTestHook([&](int Fd, int Operation) {
            const int R = ::flock(Fd, Operation);
            Busy += R != 0 && errno == EWOULDBLOCK;
            return R;
        });
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, false)) << C.What;
        EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Fs"), Value); }), "") << C.What;
        zelvo::TLockFile::SetTestHook({});
        EXPECT_EQ(Busy, 0) << C.What << ": the change waited for them";
        EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), Value) << C.What;
        ++Value;
    }
    // nor can they open the lock while a change of ours holds it
    const zelvo::TLockFile Held(Lock);
    ASSERT_TRUE(Held.Held());
    const zelvo::test::TOtherUser Other([&] { return ::open(Lock.c_str(), O_RDONLY | O_NONBLOCK) < 0 && errno == EACCES; });
    EXPECT_TRUE(Other.Done());
}

// Another program of ours that is changing the settings is waited for, up to
// the patience, and then the change is refused with the file as it was.
TEST_F(RegistryTest, AChangeWaitsForAnotherProgramsChangeAndThenGivesUp) {
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
        Reg.WriteInteger(QStringLiteral("Fs"), 1);
    }
    const QByteArray Before = ReadRaw();
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    {
        const zelvo::TLockFile Other(QFile::encodeName(FilePath()).toStdString() + ".lock");
        ASSERT_TRUE(Other.Held());
        EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Fs"), 2); }), "Failed to set data for 'Fs'");
        EXPECT_EQ(ReadRaw(), Before);
    }
    Reg.WriteInteger(QStringLiteral("Fs"), 3);
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), 3);
    EXPECT_EQ(QDir(Folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Zelvo.ini")});
}

// A write that fails part-way (here: the file-size limit, which binds root as
// well) must leave the previous file whole, never a truncated one.
TEST_F(RegistryTest, FailedWriteLeavesTheOldFileIntact) {
    {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
        Reg.WriteInteger(QStringLiteral("Fs"), 3);
        Reg.WriteInteger(QStringLiteral("Buffers"), 1);
        Reg.WriteInteger(QStringLiteral("BufferSize"), 4);
    }
    const QByteArray Before = ReadRaw();
    ASSERT_GT(Before.size(), 16);

    std::string Error;
    {
        const zelvo::test::TFileSizeLimit Limit(16);
        ASSERT_TRUE(Limit.Ok());
        TRegistry Reg;
        if (Reg.OpenKey(Key, false))
            Error = ErrorOf([&] { Reg.WriteInteger(QStringLiteral("CDformat"), 1); });
    }

    EXPECT_EQ(Error, "Failed to set data for 'CDformat'");
    EXPECT_EQ(ReadRaw(), Before);
    EXPECT_EQ(QDir(Folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Zelvo.ini")})
        << "no temporary file is left behind";
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    EXPECT_EQ(Reg.ReadInteger(QStringLiteral("Fs")), 3);
    EXPECT_FALSE(Reg.ValueExists(QStringLiteral("CDformat")));
}

// The store reads no file of 1 MiB or more: a change that would make one is
// refused and leaves the file as it was, readable.
TEST_F(RegistryTest, ChangeThatWouldReachTheSizeLimitIsRefused) {
    constexpr qsizetype Limit = 1 << 20;
    const QByteArray Head = "[Software\\Other]\nLong=", Tail = "\n\n[Software\\Quorvin\\Zelvo]\n";
    // "Cd=7\n" brings it to one byte short of the limit
    WriteRaw(Head + QByteArray(Limit - 1 - 5 - Head.size() - Tail.size(), 'x') + Tail);
    TRegistry Reg;
    ASSERT_TRUE(Reg.OpenKey(Key, false));
    Reg.WriteInteger(QStringLiteral("Cd"), 7);
    Reg.WriteInteger(QStringLiteral("cd"), 8);  // the same size still fits
    const QByteArray Full = ReadRaw();
    ASSERT_EQ(Full.size(), Limit - 1);

    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Ce"), 8); }), "Failed to set data for 'Ce'");
    EXPECT_EQ(ErrorOf([&] { Reg.WriteInteger(QStringLiteral("Cd"), 10); }), "Failed to set data for 'Cd'")
        << "exactly the limit";
    TRegistry Other;
    EXPECT_FALSE(Other.OpenKey(QStringLiteral("\\Software\\New"), true));
    EXPECT_FALSE(Other.KeyExists(QStringLiteral("\\Software\\New")));

    EXPECT_EQ(ReadRaw(), Full);
    EXPECT_EQ(QDir(Folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Zelvo.ini")});
    ASSERT_TRUE(Other.OpenKey(Key, false));
    EXPECT_EQ(Other.ReadInteger(QStringLiteral("Cd")), 8);
    EXPECT_FALSE(Other.ValueExists(QStringLiteral("Ce")));
}

// A file just under the size limit is read in time linear in its length: the
// lock is held meanwhile, and another program gives up after three seconds.
// This takes tens of milliseconds, and a few seconds under ThreadSanitizer on a
// busy machine; reading that compares each name with all before it takes
// minutes.
#ifdef ZELVO_SANITIZED
constexpr qint64 LinearTimeLimitMs = 60000;
#else
constexpr qint64 LinearTimeLimitMs = 5000;
#endif
TEST_F(RegistryTest, FileJustUnderTheSizeLimitIsHandledInLinearTime) {
    QByteArray OneKey = "[Software\\Quorvin\\Zelvo]\n", ManyKeys;
    for (int I = 0; I < 95000; ++I)
        OneKey += 'V' + QByteArray::number(I) + '=' + QByteArray::number(I % 1000) + '\n';
    for (int I = 0; I < 74000; ++I)
        ManyKeys += (I ? "\n[K" : "[K") + QByteArray::number(I) + "]\nV=1\n";
    const struct {
        const char* What;
        const QByteArray& Data;
        QString Key, Name;
        int32_t Last;  // the file's last value
    } Cases[] = {
        {"one key, 95000 values", OneKey, Key, QStringLiteral("V94999"), 999},
        {"74000 keys", ManyKeys, QStringLiteral("\\K73999"), QStringLiteral("V"), 1},
    };
    for (const auto& C : Cases) {
        ASSERT_GT(C.Data.size(), 1000000) << C.What;
        WriteRaw(C.Data);
        QElapsedTimer Clock;
        Clock.start();
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(C.Key, false)) << C.What;
        EXPECT_EQ(Reg.ReadInteger(C.Name), C.Last) << C.What;
        Reg.WriteInteger(QStringLiteral("Fs"), 1);
        EXPECT_LT(Clock.elapsed(), LinearTimeLimitMs) << C.What;
        EXPECT_EQ(ReadRaw(), C.Data + "Fs=1\n") << C.What;
    }
}

TEST(RegistryStorage, DefaultsToThePerUserConfigFolder) {
    TRegistry::SetStorageFolder(QString());
    const QString Default = TRegistry::StorageFolder();
    EXPECT_TRUE(Default.endsWith(QStringLiteral("/Quorvin"))) << Default.toStdString();
    TRegistry::SetStorageFolder(QStringLiteral("/somewhere"));
    EXPECT_EQ(TRegistry::StorageFolder(), QStringLiteral("/somewhere"));
    TRegistry::SetStorageFolder(QString());
    EXPECT_EQ(TRegistry::StorageFolder(), Default);
}

} // namespace
