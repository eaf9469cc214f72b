// Preset files: what a save writes, what a load takes back, the files it
// refuses, the errors of the file system, and the file named on the command line.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/ansi_text.h"
#include "app/file_dialog.h"
#include "app/preset_file.h"
#include "app_fixture.h"
#include "tests/support/file_size_limit.h"

namespace zelvo::test {
namespace {

const char kHeader[] = "\x14ZVO Preset File V1.0";  // the length byte 20, then the text

QByteArray ReadFile(const QString& Path) {
    QFile F(Path);
    EXPECT_TRUE(F.open(QIODevice::ReadOnly)) << Path.toStdString();
    return F.readAll();
}

void WriteFile(const QString& Path, const QByteArray& Bytes) {
    QFile F(Path);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Path.toStdString();
    ASSERT_EQ(F.write(Bytes), Bytes.size());
}

// A figure of /proc/self/status or /proc/self/io ("VmSize:", "rchar:"), or -1.
long long ProcFigure(const char* File, const std::string& Name) {
    std::ifstream In(File);
    for (std::string Key; In >> Key;) {
        long long Value = 0;
        if (Key == Name && In >> Value)
            return Value;
    }
    return -1;
}

QByteArray MemoryBytes(const TMemoryBank& M) {
    QByteArray B;
    for (int No = 1; No <= 4; ++No)
        B.append(reinterpret_cast<const char*>(&M[No]), sizeof(TMemorySlot));
    return B;
}

class TPresets : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        ASSERT_TRUE(Files.isValid());
        TSaveDialog::SetHook([this](const TSaveDialog& D) -> std::optional<QString> {
            SaveShown.push_back(D.Title + "|" + D.Filter + "|" + D.DefaultExt + "|" +
                                (D.OverwritePrompt ? "prompt" : "no prompt"));
            return SaveAnswer;
        });
        TOpenDialog::SetHook([this](const TOpenDialog& D) -> std::optional<QString> {
            OpenShown.push_back(D.Title + "|" + D.Filter + "|" + D.DefaultExt);
            return OpenAnswer;
        });
    }
    void TearDown() override {
        TSaveDialog::SetHook(nullptr);
        TOpenDialog::SetHook(nullptr);
        TAppFixture::TearDown();
    }

    void Save(std::optional<QString> Path) {
        SaveAnswer = std::move(Path);
        W<QAction>("SaveToneSettings1")->trigger();
    }
    void Open(std::optional<QString> Path) {
        OpenAnswer = std::move(Path);
        W<QAction>("OpenToneSettings1")->trigger();
    }
    QString File(const char* Name) { return Files.filePath(QString::fromUtf8(Name)); }
    QStringList Captions() {
        QStringList L;
        for (const char* N : {"Mem1", "Mem2", "Memory3", "Memory4"})
            L << W<QPushButton>(N)->text();
        return L;
    }
    void RenameTo(int No, const QString& Text) {
        G().RenameClick(No);
        QLineEdit* E = Edit((std::string("Mem") + char('0' + No) + "Edit").c_str());
        E->insert(Text);
        G().MemEditExit(No);
    }
    void Pump() {
        for (int I = 0; I < 5; ++I) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    QTemporaryDir Files;
    std::optional<QString> SaveAnswer, OpenAnswer;
    QStringList SaveShown, OpenShown;
};

TEST_F(TPresets, ASaveWritesTheHeaderAndTheFourMemoriesRaw) {
    StartApp();
    const QString Path = File("start.zvo");
    WriteFile(Path, QByteArray(10000, 'x'));  // replaced without a question
    Save(Path);
    EXPECT_EQ(SaveShown, QStringList({"Save ZVO presets|ZVO presets (*.zvo)|zvo|no prompt"}));
    EXPECT_TRUE(Boxes.empty());

    const QByteArray Bytes = ReadFile(Path);
    ASSERT_EQ(Bytes.size(), 7301);
    EXPECT_EQ(Bytes.left(21), QByteArray(kHeader, 21));
    EXPECT_EQ(Bytes.mid(21), MemoryBytes(App->Memories));
    // right after start: four equal banks of count 3, named Memory 1 to 4
    for (int No = 1; No <= 4; ++No) {
        const QByteArray Slot = Bytes.mid(21 + (No - 1) * 1820, 1820);
        EXPECT_EQ(Slot.left(1560), Bytes.mid(21, 1560)) << No;
        EXPECT_EQ(Slot.mid(1560, 9), QByteArray("\x08Memory ") + char('0' + No)) << No;
        EXPECT_EQ(Slot.mid(1816, 4), QByteArray("\x03\x00\x00\x00", 4)) << No;
    }
    EXPECT_EQ(ApplicationHelpFile(), G().HelpFilePath);
    EXPECT_EQ(QDir(Files.path()).entryList(QDir::Files), QStringList({"start.zvo"}));
}

TEST_F(TPresets, ASaveAndALoadGiveBackTheMemoriesByteForByte) {
    StartApp();
    ShowWindow();
    // four different banks; names with the tail of a longer one, an empty one,
    // characters the code page has and lacks, and one over 255 characters
    Rec(0).FreqInit = 440;
    G().MemStore(1);
    G().AddOscButtonClick();
    Rec(3).Reserved = 0x5A;
    Rec(25).Omega = 3.5f;
    G().MemStore(2);
    RenameTo(1, QString::fromUtf8("Grüße €"));
    RenameTo(2, "A long long name");
    RenameTo(2, "ab");
    RenameTo(3, QString::fromUtf8("Ω-sweep"));
    RenameTo(4, QString(300, QLatin1Char('n')));
    RenameTo(4, "");
    RenameTo(4, QString(300, QLatin1Char('m')));
    const QByteArray Saved = MemoryBytes(App->Memories);
    EXPECT_EQ(QByteArray(App->Memories[2].NameChars, 17), QByteArray("ablong long name\0", 17)) << "the tail stays";

    const QString Path = File("round.zvo");
    Save(Path);
    EXPECT_EQ(ReadFile(Path).mid(21), Saved);

    // everything changes again, the live bank included
    for (int No = 1; No <= 4; ++No)
        RenameTo(No, "changed");
    G().MemStore(3);
    G().MemStore(4);
    Rec(1).FreqInit = 777;
    const std::vector<uint8_t> Live = BankBytes();
    const QStringList TabsBefore = TabCaptions();

    Open(Path);
    EXPECT_EQ(OpenShown, QStringList({"Open preset file|ZVO Presets (*.zvo)|zvo"}));
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(MemoryBytes(App->Memories), Saved);
    EXPECT_EQ(Captions(), QStringList({QString::fromUtf8("Grüße €"), "ab", "?-sweep", QString(255, 'm')}));
    EXPECT_EQ(BankBytes(), Live) << "a load leaves the live bank alone";
    EXPECT_EQ(TabCaptions(), TabsBefore);

    QTest::mouseClick(W<QPushButton>("Mem2"), Qt::LeftButton);
    EXPECT_EQ(App->Synth.OscCount, 4);
    EXPECT_EQ(Rec(3).Reserved, 0x5A);
    EXPECT_EQ(Rec(25).Omega, 3.5f);
}

TEST_F(TPresets, FilesThatAreNoPresetFileChangeNothing) {
    StartApp();
    RenameTo(2, "kept");
    const QByteArray Good = QByteArray(kHeader, 21) + QByteArray(4 * 1820, '\x01');
    QByteArray Lower = Good;
    Lower.replace(1, 20, "zvo preset file v1.0");
    QByteArray Short19 = Good;
    Short19[0] = 19;
    QByteArray Long21 = Good;
    Long21[0] = 21;
    QByteArray OtherVersion = Good;
    OtherVersion[20] = '1';
    const struct {
        const char* What;
        QByteArray Bytes;
    } Cases[] = {
        {"empty", {}},
        {"shorter than the header", Good.left(20)},
        {"header in small letters", Lower},
        {"first byte 19", Short19},
        {"first byte 21", Long21},
        {"other version", OtherVersion},
        {"a text file", QByteArray("ZVO Preset File V1.0, really\n").repeated(300)},
        // the right header but cut short: a load would mix half records into the memories
        {"header only", Good.left(21)},
        {"half a memory", Good.left(21 + 1820 + 700)},
        {"one byte short", Good.left(7300)},
    };
    const QByteArray Before = MemoryBytes(App->Memories);
    for (const auto& C : Cases) {
        Boxes.clear();
        const QString Path = File("bad.zvo");
        WriteFile(Path, C.Bytes);
        Open(Path);
        ASSERT_EQ(Boxes.size(), 1u) << C.What;
        EXPECT_EQ(Boxes[0].Kind, TBoxKind::Message) << C.What;
        EXPECT_EQ(Boxes[0].Text, "Wrong file format") << C.What;
        EXPECT_EQ(MemoryBytes(App->Memories), Before) << C.What;
        EXPECT_EQ(Captions(), QStringList({"Memory 1", "kept", "Memory 3", "Memory 4"})) << C.What;
    }

    // bytes after the fourth memory are ignored
    Boxes.clear();
    const QString Path = File("longer.zvo");
    WriteFile(Path, Good + QByteArray(100, '\x7F'));
    Open(Path);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(MemoryBytes(App->Memories), Good.mid(21));
    EXPECT_EQ(Captions(), QStringList({"\x01", "\x01", "\x01", "\x01"}));
}

TEST_F(TPresets, FileSystemErrorsNameThePathAndTheReason) {
    StartApp();
    const QByteArray Before = MemoryBytes(App->Memories);

    const QString Missing = File("missing.zvo");
    Open(Missing);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Cannot open file \"" + Missing + "\". No such file or directory.");
    EXPECT_EQ(MemoryBytes(App->Memories), Before);

    Boxes.clear();
    const QString NoFolder = File("no/such/folder/p.zvo");
    Save(NoFolder);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_TRUE(Boxes[0].Text.startsWith("Cannot create file \"" + NoFolder + "\". ")) << Boxes[0].Text.toStdString();
    EXPECT_GT(Boxes[0].Text.size(), QString("Cannot create file \"" + NoFolder + "\". .").size()) << "with a reason";

    // a relative name is shown with its full path
    Boxes.clear();
    const QString Here = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Files.path()));
    Open(QStringLiteral("relative.zvo"));
    QDir::setCurrent(Here);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.startsWith("Cannot open file \"" + File("relative.zvo") + "\". "))
        << Boxes[0].Text.toStdString();
}

// A FIFO would wait for a writer and /dev/zero never ends: the open dialog's
// path refuses them before reading. Should that break, a writer rescues the
// FIFO and an address-space limit ends /dev/zero instead of the machine.
TEST_F(TPresets, TheOpenDialogRefusesWhatIsNoRegularFileWithoutReading) {
    StartApp();
    const QString Fifo = File("pipe.zvo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(Fifo).constData(), 0644), 0);
    ASSERT_TRUE(QDir(Files.path()).mkdir("folder.zvo"));
    const QByteArray Before = MemoryBytes(App->Memories);
    for (const QString& Path : {Fifo, QStringLiteral("/dev/zero"), File("folder.zvo")}) {
        SCOPED_TRACE(Path.toStdString());
        Boxes.clear();
        std::atomic<bool> Done{false}, Rescued{false};
        std::thread Watchdog([&] {
            for (int I = 0; I < 500 && !Done; ++I)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (Done)
                return;
            Rescued = true;
            const int Fd = ::open(QFile::encodeName(Fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (Fd >= 0)
                ::close(Fd);
        });
        rlimit Saved{};
        ASSERT_EQ(getrlimit(RLIMIT_AS, &Saved), 0);
        const long long VmKiB = ProcFigure("/proc/self/status", "VmSize:");
        if (VmKiB > 0) {
            rlimit Tight = Saved;
            Tight.rlim_cur = static_cast<rlim_t>(VmKiB + 512 * 1024) * 1024;
            setrlimit(RLIMIT_AS, &Tight);
        }
        Open(Path);
        setrlimit(RLIMIT_AS, &Saved);
        Done = true;
        Watchdog.join();
        EXPECT_FALSE(Rescued) << "the load waited for a writer";
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Kind, TBoxKind::Message);
        EXPECT_EQ(Boxes[0].Text, "Wrong file format");
        EXPECT_EQ(MemoryBytes(App->Memories), Before);
    }
}

TEST_F(TPresets, AHugeFileLoadsItsFirst7301BytesAndReadsNoMore) {
    StartApp();
    QByteArray Body(4 * 1820, '\0');
    for (int I = 0; I < Body.size(); ++I)
        Body[I] = static_cast<char>(I * 7 + 1);
    const QString Path = File("huge.zvo");
    WriteFile(Path, QByteArray(kHeader, 21) + Body + QByteArray(10 * 1024 * 1024, '\x55'));

    const long long ReadBefore = ProcFigure("/proc/self/io", "rchar:");
    Open(Path);
    const long long ReadAfter = ProcFigure("/proc/self/io", "rchar:");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(MemoryBytes(App->Memories), Body);
    if (ReadBefore >= 0 && ReadAfter >= 0) {
        EXPECT_LT(ReadAfter - ReadBefore, 1024 * 1024) << "bytes read for one load";
    } else {
        ADD_FAILURE() << "/proc/self/io is not readable: the bytes read cannot be counted";
    }
}

TEST_F(TPresets, AWriteThatFailsPartWayKeepsThePreviousFile) {
    StartApp();
    const QString Path = File("kept.zvo");
    const QByteArray Previous = QByteArray(kHeader, 21) + QByteArray(4 * 1820, '\x02');
    WriteFile(Path, Previous);

    {
        const TFileSizeLimit Limit(4096);
        ASSERT_TRUE(Limit.Ok());
        Save(Path);
    }

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Stream write error.");
    EXPECT_EQ(ReadFile(Path), Previous);
    EXPECT_EQ(QDir(Files.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"kept.zvo"}))
        << "no half-written file is left behind";
}

TEST_F(TPresets, BothDialogsStopAPlayingSignalAlsoWhenCancelled) {
    StartApp();
    for (bool Saving : {true, false}) {
        W<QPushButton>("btnON")->click();
        Pump();
        ASSERT_TRUE(G().AudioOut1->Active);
        ApplicationHelpFile().clear();
        if (Saving)
            Save(std::nullopt);
        else
            Open(std::nullopt);
        EXPECT_FALSE(G().AudioOut1->Active) << Saving;
        EXPECT_EQ(Driver->OpenDevices(), 0u) << Saving;
        if (Saving) {
            EXPECT_EQ(ApplicationHelpFile(), G().HelpFilePath) << "also on the cancelled path";
        }
    }
    EXPECT_EQ(SaveShown.size(), 1u);
    EXPECT_EQ(OpenShown.size(), 1u);
    EXPECT_TRUE(Boxes.empty());
}

// Whatever a file with the right header brings, the window and the synthesis
// take it: recalled, shown and played, errors are reported, nothing crashes.
TEST_F(TPresets, HostileMemoriesAreRecalledAndPlayedWithoutHarm) {
    StartApp();
    ShowWindow();
    const QString Good = File("good.zvo");
    Save(Good);
    uint64_t State = 0x9E3779B97F4A7C15ull;
    auto Random = [&] {
        State ^= State << 13;
        State ^= State >> 7;
        State ^= State << 17;
        return static_cast<char>(State >> 56);
    };
    const struct {
        const char* What;
        std::function<char(int)> Byte;
    } Cases[] = {
        {"all ones", [](int) { return '\xFF'; }},
        {"huge numbers", [](int) { return '\x7F'; }},
        {"tiny numbers", [](int) { return '\x01'; }},
        {"random", [&](int) { return Random(); }},
        {"random with small counts", [&](int I) { return I % 1820 >= 1816 ? (I % 1820 == 1816 ? '\x02' : '\0') : Random(); }},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.What);
        QByteArray Body(4 * 1820, '\0');
        for (int I = 0; I < Body.size(); ++I)
            Body[I] = C.Byte(I);
        const QString Path = File("hostile.zvo");
        WriteFile(Path, QByteArray(kHeader, 21) + Body);
        Boxes.clear();
        Open(Path);
        ASSERT_TRUE(Boxes.empty()) << "the right header is enough";
        EXPECT_EQ(MemoryBytes(App->Memories), Body);
        for (int No = 1; No <= 4; ++No) {
            const char* Buttons[4] = {"Mem1", "Mem2", "Memory3", "Memory4"};
            QTest::mouseClick(W<QPushButton>(Buttons[No - 1]), Qt::LeftButton);
            EXPECT_GE(App->Synth.OscCount, 1);
            EXPECT_LE(App->Synth.OscCount, 25);
            EXPECT_EQ(TabCaptions().size(), App->Synth.OscCount);
            W<QPushButton>("btnON")->click();
            for (int K = 0; K < 6; ++K) {
                Driver->AdvanceFrames(3000);
                Pump();
            }
            W<QPushButton>("btnOFF")->click();
            Pump();
            EXPECT_FALSE(G().AudioOut1->Active);
        }
    }
    // and the window still plays an ordinary bank
    Open(Good);
    QTest::mouseClick(W<QPushButton>("Mem1"), Qt::LeftButton);
    if (G().Filler->FillBusy) {
        // an error in the last fill: this ON takes the busy path, which clears it
        W<QPushButton>("btnON")->click();
        Pump();
    }
    Boxes.clear();
    W<QPushButton>("btnON")->click();
    Driver->AdvanceFrames(3000);
    Pump();
    EXPECT_TRUE(G().AudioOut1->Active);
    EXPECT_EQ(Driver->Last().Played.size(), 12000u);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPresets, AFileOnTheCommandLineFillsTheMemoriesBeforeTheWindowShows) {
    TMemoryBank Bank;
    for (int No = 1; No <= 4; ++No) {
        Bank[No].Bank[0] = DefaultOscRecord();
        Bank[No].Bank[0].FreqInit = 100.0f * static_cast<float>(No);
        Bank[No].Count = No;
        Bank[No].SetName(AnsiFromText(QString::fromUtf8("Preset %1 é").arg(No)));
    }
    const std::vector<uint8_t> Image = PresetFileImage(Bank);
    ASSERT_EQ(Image.size(), 7301u);
    const QString Path = File("tones.zvo");
    WriteFile(Path, QByteArray(reinterpret_cast<const char*>(Image.data()), static_cast<qsizetype>(Image.size())));

    StartApp({"Speakers"}, {"zelvo", Path});
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(MemoryBytes(App->Memories), MemoryBytes(Bank));
    EXPECT_EQ(Captions(), QStringList({QString::fromUtf8("Preset 1 é"), QString::fromUtf8("Preset 2 é"),
                                       QString::fromUtf8("Preset 3 é"), QString::fromUtf8("Preset 4 é")}));
    // the oscillators keep their defaults until a recall
    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1", "Osc 2", "Osc 3"}));
    const TOscRecord Default = DefaultOscRecord();
    EXPECT_EQ(std::memcmp(&Rec(0), &Default, sizeof Default), 0);
    QTest::mouseClick(W<QPushButton>("Memory4"), Qt::LeftButton);
    EXPECT_EQ(App->Synth.OscCount, 4);
    EXPECT_EQ(Rec(0).FreqInit, 400.0f);

    // a file in a folder whose name holds ".zvo" is read and judged by its contents
    TearDown();
    SetUp();
    QDir(Files.path()).mkdir("set.zvo.d");
    const QString Text = File("set.zvo.d/notes.txt");
    WriteFile(Text, "just notes\n");
    StartApp({"Speakers"}, {"zelvo", Text});
    EXPECT_FALSE(G().isVisible());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Wrong file format");
    EXPECT_EQ(Captions(), QStringList({"Memory 1", "Memory 2", "Memory 3", "Memory 4"}));
}

} // namespace
} // namespace zelvo::test
