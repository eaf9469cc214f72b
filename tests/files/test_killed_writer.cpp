// A writer killed at varied moments, in the middle of a long WAV export or of
// a settings write, with unnamed and with named temporaries: the target is
// always the old file or the complete new one, and whatever temporary a kill
// left is gone after the next write.
#include <QFile>
#include <QString>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "files/file_replacement.h"
#include "files_fixture.h"
#include "platform/registry.h"
#include "victim.h"

extern char** environ;

namespace zelvo::test {
namespace {

// Starts replace_victim with Args; -1 when it cannot be started.
pid_t StartVictim(std::vector<std::string> Args) {
    std::vector<char*> Argv{const_cast<char*>(ZELVO_VICTIM)};
    for (std::string& A : Args)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);
    pid_t Child = -1;
    return posix_spawn(&Child, ZELVO_VICTIM, nullptr, nullptr, Argv.data(), environ) == 0 ? Child : -1;
}

// Waits for Child: "" when it ended by itself with 0, else how it ended.
std::string Ending(pid_t Child) {
    int Status = 0;
    if (::waitpid(Child, &Status, 0) != Child)
        return "not a child";
    if (WIFSIGNALED(Status))
        return std::string("ended by signal ") + strsignal(WTERMSIG(Status));
    return WEXITSTATUS(Status) == 0 ? "" : "exit " + std::to_string(WEXITSTATUS(Status));
}

struct TKillCase {
    const char* Name;
    bool Wave;   // else the settings
    bool Named;  // as on a file system without unnamed temporaries
    int Kills;
    int MaxDelayMs;  // kills fall between the child's start and this
};
void PrintTo(const TKillCase& C, std::ostream* Os) { *Os << C.Name; }

class TKilledWriter : public TFilesFixture, public ::testing::WithParamInterface<TKillCase> {
protected:
    void TearDown() override {
        TRegistry::SetStorageFolder(QString());
        TFilesFixture::TearDown();
    }

    // Starts the child, kills it after DelayUs, and reaps it.
    void RunAndKill(const fs::path& Path, int DelayUs) {
        const TKillCase& C = GetParam();
        std::string Mode = C.Wave ? "wav" : "settings", Where = Path.string(), Temps = C.Named ? "named" : "unnamed";
        char* Argv[] = {const_cast<char*>(ZELVO_VICTIM), Mode.data(), Where.data(), Temps.data(), nullptr};
        pid_t Child = -1;
        ASSERT_EQ(posix_spawn(&Child, ZELVO_VICTIM, nullptr, nullptr, Argv, environ), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(DelayUs));
        ASSERT_EQ(::kill(Child, SIGKILL), 0);
        int Status = 0;
        ASSERT_EQ(::waitpid(Child, &Status, 0), Child);
        ASSERT_TRUE(WIFSIGNALED(Status)) << "the child ended by itself: " << Status;
    }
};

TEST_P(TKilledWriter, LeavesTheOldOrTheCompleteNewFileAndNoTemporaryAfterTheNextWrite) {
    const TKillCase& C = GetParam();
    const fs::path Target = Dir / (C.Wave ? "long.wav" : "Zelvo.ini");
    const std::string Old = C.Wave ? std::string("the previous export") : "[Software\\Quorvin\\Zelvo]\nFs=-1\n";
    std::string New;  // every complete WAV export is the same file
    if (C.Wave) {
        TSynth S;
        PrepareVictimBank(S, kVictimSeconds);
        TSilentHost Host;
        WriteWaveData(S, (Dir / "reference").string(), Host);
        New = ReadAll(Dir / "reference");
        fs::remove(Dir / "reference");
        ASSERT_EQ(New.size(), 44u + 4u * 441000);
    }
    const std::regex Settings("\\[Software\\\\Quorvin\\\\Zelvo\\]\nFs=[0-9]+\n");
    TRegistry::SetStorageFolder(QFile::decodeName(Dir.c_str()));

    int OldFound = 0, NewFound = 0, Torn = 0, TempsAfterKill = 0, LockFilesAfterKill = 0, TempsAfterNextWrite = 0;
    for (int K = 0; K < C.Kills; ++K) {
        WriteAll(Target, Old, 0640);
        // spread over the range, in a scattered order
        RunAndKill(C.Wave ? Target : Dir, static_cast<int>((K * 7919L) % (C.MaxDelayMs * 1000L)));
        if (HasFatalFailure())
            return;

        const std::string Now = ReadAll(Target);
        if (Now == Old)
            ++OldFound;
        else if (C.Wave ? Now == New : std::regex_match(Now, Settings))
            ++NewFound;
        else
            ++Torn;
        struct stat St;
        ASSERT_EQ(::stat(Target.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 07777, 0640u) << "kill " << K;
        // the settings' lock file, where the kill came while it was held, is
        // no temporary: the next change takes it over and removes it
        const std::set<std::string> Left = Entries();
        TempsAfterKill += static_cast<int>(Left.size()) - 1 - static_cast<int>(Left.count("Zelvo.ini.lock"));
        LockFilesAfterKill += static_cast<int>(Left.count("Zelvo.ini.lock"));

        // a minute passes, then the next write
        for (const std::string& Name : Entries())
            if (Name != Target.filename())
                Age(Dir / Name, 120);
        if (C.Wave) {
            TSynth S;
            PrepareVictimBank(S, "0.01");
            TSilentHost Host;
            WriteWaveData(S, Target.string(), Host);
            EXPECT_EQ(Host.Outcome, TExportOutcome::eoCompleted);
        } else {
            TRegistry Reg;
            ASSERT_TRUE(Reg.OpenKey(QString::fromLatin1(kSettingsKey), true));
            Reg.WriteInteger(QStringLiteral("Fs"), 7);
        }
        TempsAfterNextWrite += static_cast<int>(Entries().size()) - 1;
    }
    std::printf("[ figures  ] %s: %d kills, old file %d, new file %d, torn %d, temporaries after the kills %d, "
                "lock files after the kills %d, after the next writes %d\n",
                C.Name, C.Kills, OldFound, NewFound, Torn, TempsAfterKill, LockFilesAfterKill, TempsAfterNextWrite);
    RecordProperty("OldFound", OldFound);
    RecordProperty("NewFound", NewFound);
    RecordProperty("TempsAfterKill", TempsAfterKill);
    EXPECT_EQ(Torn, 0);
    EXPECT_EQ(TempsAfterNextWrite, 0);
    if (!C.Named) {
        EXPECT_LE(TempsAfterKill, C.Kills / 4) << "only a kill between link and rename leaves a name";
    }
}

INSTANTIATE_TEST_SUITE_P(Writers, TKilledWriter,
                         ::testing::Values(TKillCase{"WaveUnnamed", true, false, 20, 250},
                                           TKillCase{"WaveNamed", true, true, 20, 250},
                                           TKillCase{"SettingsUnnamed", false, false, 50, 40},
                                           TKillCase{"SettingsNamed", false, true, 50, 40}),
                         [](const ::testing::TestParamInfo<TKillCase>& I) { return std::string(I.param.Name); });

// Two programs changing the settings at the same moment, round after round:
// every value of both is there afterwards.
TEST_F(TFilesFixture, TwoProgramsWritingSettingsAtOnceLoseNoValue) {
    constexpr int kRounds = 10, kValues = 50;
    const std::string Folder = Dir.string();
    int Lost = 0;
    for (int Round = 0; Round < kRounds; ++Round) {
        fs::remove(Dir / "Zelvo.ini");
        std::vector<pid_t> Children;
        for (const char* Prefix : {"A", "B"}) {
            Children.push_back(StartVictim({"values", Folder, Prefix, std::to_string(kValues)}));
            ASSERT_GE(Children.back(), 0);
        }
        for (const pid_t Child : Children)
            EXPECT_EQ(Ending(Child), "") << "a write failed";
        TRegistry::SetStorageFolder(QFile::decodeName(Folder.c_str()));
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(QString::fromLatin1(kSettingsKey), false));
        for (const char* Prefix : {"A", "B"})
            for (int I = 0; I < kValues; ++I) {
                const QString Name = QString::fromLatin1(Prefix) + QString::number(I);
                if (!Reg.ValueExists(Name) || Reg.ReadInteger(Name) != I)
                    ++Lost;
            }
        TRegistry::SetStorageFolder(QString());
    }
    EXPECT_EQ(Lost, 0) << "of " << 2 * kValues * kRounds << " values";
    EXPECT_EQ(Entries(), std::set<std::string>{"Zelvo.ini"});
}

// Two programs writing one target in a folder full of what killed writers
// left: each sweeps while the other looks at the same leftovers, round after
// round, and neither is ended by it.
TEST_F(TFilesFixture, TwoWritersAmongManyStaleTemporariesBothComplete) {
    constexpr int kRounds = 30, kStale = 100;
    const std::string Target = (Dir / "o.wav").string();
    int Failed = 0;
    for (int Round = 0; Round < kRounds; ++Round) {
        for (int I = 0; I < kStale; ++I) {
            char Name[32];
            std::snprintf(Name, sizeof Name, ".o.wav.%08x.part", 0x10000000u + Round * kStale + I);
            WriteAll(Dir / Name, "debris", 0644);
            Age(Dir / Name, 120);
        }
        std::vector<pid_t> Children;
        for (int C = 0; C < 2; ++C) {
            Children.push_back(StartVictim({"once", Target}));
            ASSERT_GE(Children.back(), 0);
        }
        for (const pid_t Child : Children)
            if (const std::string How = Ending(Child); !How.empty()) {
                ++Failed;
                ADD_FAILURE() << "round " << Round << ": " << How;
            }
    }
    EXPECT_EQ(Failed, 0) << "of " << 2 * kRounds << " writers";
    EXPECT_EQ(ReadAll(Target), "written once");
    EXPECT_EQ(Entries(), std::set<std::string>{"o.wav"});
}

} // namespace
} // namespace zelvo::test
