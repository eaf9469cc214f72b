// "Save as Wave File...": the 44.1 kHz hint, the save dialog, the progress
// dialog as the writer's host, and what the main window may do meanwhile.
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app_fixture.h"
#include "app/tfrmwait.h"
#include "synth/wav_writer.h"

namespace zelvo::test {
namespace {

const QString Key = QStringLiteral("\\Software\\Quorvin\\Zelvo");

struct TDialogSeen {
    QString Title, Filter, DefaultExt, FileName;
    bool OverwritePrompt;
    bool Playing;  // the output, while the dialog shows
};

// A host that lets the writer run without a window.
class TQuietHost : public TWaveExportHost {
public:
    void BeginExport() override {}
    void ShowProgress(int) override {}
    bool CancelRequested() override { return false; }
    void EndExport(TExportOutcome O) override { Outcome = O; }
    TExportOutcome Outcome = TExportOutcome::eoFailed;
};

QByteArray ReadAll(const QString& Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray();
}

uint32_t U32At(const QByteArray& B, int At) {
    uint32_t V = 0;
    for (int I = 3; I >= 0; --I)
        V = V << 8 | static_cast<uint8_t>(B.at(At + I));
    return V;
}

class TExport : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        TSaveDialog::SetHook([this](const TSaveDialog& D) -> std::optional<QString> {
            Dialogs.push_back({D.Title, D.Filter, D.DefaultExt, D.FileName, D.OverwritePrompt, Playing()});
            if (SavePath.isEmpty())
                return std::nullopt;
            return SavePath;
        });
        TGenerator::SetMessageDlgOnceHook([this](QMessageBox& Box, QCheckBox& DontShow) {
            ++Hints;
            if (InspectHint)
                InspectHint(Box, DontShow);
            DontShow.setChecked(TickBox);
            return Answer;
        });
        StartApp();
        ShowWindow();
    }
    void TearDown() override {
        TSaveDialog::SetHook(nullptr);
        TGenerator::SetMessageDlgOnceHook(nullptr);
        TAppFixture::TearDown();
    }

    TfrmWait& Wait() { return *App->frmWait; }
    bool Playing() { return G().AudioOut1->Active; }
    QProgressBar* Bar() { return Wait().findChild<QProgressBar*>("ProgressBar1"); }
    void Export() { W<QAction>("SaveToneasWave1")->trigger(); }
    void SelectRate(const char* Rate) {
        auto* Fs = W<QComboBox>("cboFsList");
        Fs->setCurrentIndex(Fs->findText(QString::fromLatin1(Rate)));
        S().ApplySampleRate();
    }
    void StoreKey() {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(Key, true));
    }
    bool CDformatStored() {
        TRegistry Reg;
        return Reg.OpenKey(Key, false) && Reg.ValueExists(QStringLiteral("CDformat"));
    }

    // A tone set-up whose period spans several progress reports: 33075 frames
    // at 22050 Hz.
    void KnownSetUp() {
        Rec(0).FreqInit = 100.0f;
        Rec(0).FreqFinal = 5000.0f;
        Rec(0).LogSweep = 1;
        Rec(1).WaveKind = 1;  // square
        Rec(1).FreqInit = Rec(1).FreqFinal = 440.0f;
        Rec(1).LeftOn = 0;
        Rec(2).WaveKind = 2;  // triangle
        Rec(2).PhaseDeg = 90.0f;
        Rec(2).GainInit = 0.5f;
        Edit("Duration")->setText("1.5");
    }

    // The file a twin of the bank renders for the same period.
    QByteArray TwinRendering(const QString& Duration) {
        TSynth Twin = App->Synth;
        Twin.PrepareSweep(Duration.toStdString(), '.');
        const QString Path = TwinDir.filePath("twin.wav");
        TQuietHost Host;
        WriteWaveData(Twin, Path.toStdString(), Host);
        EXPECT_EQ(Host.Outcome, TExportOutcome::eoCompleted);
        return ReadAll(Path);
    }

    QStringList FilesIn(const QString& Folder) {
        return QDir(Folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QString SavePath;
    std::vector<TDialogSeen> Dialogs;
    int Hints = 0;
    int Answer = QMessageBox::No;
    bool TickBox = false;
    std::function<void(QMessageBox&, QCheckBox&)> InspectHint;
    QTemporaryDir Out, TwinDir;
};

TEST_F(TExport, WritesThePeriodBehindTheProgressDialog) {
    KnownSetUp();
    SavePath = Out.filePath("tone.wav");
    ApplicationHelpFile().clear();
    std::vector<int> Values;
    bool AlwaysModal = true;  // shown over a disabled main window at every report
    QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int V) {
        Values.push_back(V);
        if (V != 0)
            AlwaysModal = AlwaysModal && Wait().isVisible() && !G().isEnabled();
    });
    Export();

    EXPECT_EQ(Hints, 1);  // 22050 Hz: the hint came, and No kept the rate
    ASSERT_EQ(Dialogs.size(), 1u);
    EXPECT_EQ(Dialogs[0].Title, "Save wave file");
    EXPECT_EQ(Dialogs[0].Filter, "WAVE file (*.wav)");
    EXPECT_EQ(Dialogs[0].DefaultExt, "wav");
    EXPECT_TRUE(Dialogs[0].OverwritePrompt);
    EXPECT_EQ(Dialogs[0].FileName, "Signal 3 Oscillators 1.5 Seconds.wav");

    const QByteArray File = ReadAll(SavePath);
    ASSERT_EQ(File.size(), 44 + 4 * 33075);
    EXPECT_EQ(U32At(File, 24), 22050u);
    EXPECT_EQ(File, TwinRendering("1.5"));
    EXPECT_EQ(FilesIn(Out.path()), QStringList{"tone.wav"});

    // bar at 0 before the dialog shows, then after frames 10000, 20000 and 30000
    EXPECT_EQ(Values, (std::vector<int>{0, 30, 60, 91}));
    EXPECT_TRUE(AlwaysModal);
    EXPECT_FALSE(Wait().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ApplicationHelpFile(), G().HelpFilePath);
    EXPECT_FALSE(CDformatStored());
}

TEST_F(TExport, TheMainWindowTakesNoCommandWhileTheFileIsWritten) {
    KnownSetUp();
    SavePath = Out.filePath("tone.wav");
    QStringList Triggered;
    for (QAction* A : G().findChildren<QAction*>())
        QObject::connect(A, &QAction::triggered, &G(), [&Triggered, A] { Triggered << A->objectName(); });
    bool Tried = false;
    QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int V) {
        if (V != 30)
            return;
        Tried = true;
        for (QWidget* Target : {static_cast<QWidget*>(&G()), static_cast<QWidget*>(&Wait())}) {
            QTest::keyClick(Target, Qt::Key_F1);
            QTest::keyClick(Target, Qt::Key_F2);
            QTest::keyClick(Target, Qt::Key_F5);
            QTest::keyClick(Target, Qt::Key_S, Qt::ControlModifier);
            QTest::keyClick(Target, Qt::Key_O, Qt::ControlModifier);
            QTest::keyClick(Target, Qt::Key_X, Qt::ControlModifier);
            QTest::keyClick(Target, Qt::Key_Return);
        }
        QTest::mouseClick(W<QPushButton>("AddOscButton"), Qt::LeftButton);
        QTest::mouseClick(W<QPushButton>("btnON"), Qt::LeftButton);
        G().close();  // the window manager's close box
    });
    Export();

    EXPECT_TRUE(Tried);
    EXPECT_EQ(Triggered, QStringList{"SaveToneasWave1"});  // the command itself, nothing else
    EXPECT_EQ(App->Synth.OscCount, 3);
    EXPECT_TRUE(G().isVisible());
    EXPECT_EQ(ReadAll(SavePath), TwinRendering("1.5"));
    EXPECT_TRUE(Boxes.empty());

    // the same keys reach the window again afterwards
    ASSERT_TRUE(QTest::qWaitForWindowActive(&G()));
    QTest::keyClick(&G(), Qt::Key_F2);
    EXPECT_EQ(Triggered, (QStringList{"SaveToneasWave1", "AddOscillator1"}));
    EXPECT_EQ(App->Synth.OscCount, 4);
}

enum class TCancelBy { Button, Escape };
void PrintTo(TCancelBy C, std::ostream* Os) { *Os << (C == TCancelBy::Button ? "Button" : "Escape"); }

class TExportCancel : public TExport, public ::testing::WithParamInterface<TCancelBy> {};

TEST_P(TExportCancel, AfterFrame10000LeavesNoFileAndTheNextExportIsWhole) {
    KnownSetUp();
    SavePath = Out.filePath("tone.wav");
    bool Pressed = false;
    auto Connection = QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [&](int V) {
        if (V != 30 || Pressed)
            return;
        Pressed = true;
        // handled in the event processing of this very progress report
        QMetaObject::invokeMethod(
            &Wait(),
            [this] {
                if (GetParam() == TCancelBy::Button)
                    QTest::mouseClick(Wait().findChild<QPushButton*>("Button1"), Qt::LeftButton);
                else
                    QTest::keyClick(&Wait(), Qt::Key_Escape);
            },
            Qt::QueuedConnection);
    });
    Export();

    EXPECT_TRUE(Pressed);
    EXPECT_EQ(App->Synth.SampleIndex, 10000);
    EXPECT_EQ(FilesIn(Out.path()), QStringList());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(Wait().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_FALSE(Wait().ExportCancel);

    QObject::disconnect(Connection);
    Export();
    EXPECT_EQ(ReadAll(SavePath), TwinRendering("1.5"));
}

// A pipe whose reader holds it open and never reads: the progress dialog stays
// live while the export waits, and a cancel ends it at once.
TEST_P(TExportCancel, IntoAStalledPipeEndsAtOnceAndLeavesThePipe) {
    KnownSetUp();  // 132 kB: more than a pipe holds
    SavePath = Out.filePath("pipe.wav");
    ASSERT_EQ(::mkfifo(QFile::encodeName(SavePath).constData(), 0644), 0);
    const int Reader = ::open(QFile::encodeName(SavePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(Reader, 0);
    bool Pressed = false, WindowDisabled = false;
    QTimer::singleShot(300, &Wait(), [&] {
        Pressed = true;
        WindowDisabled = !G().isEnabled() && Wait().isVisible();
        if (GetParam() == TCancelBy::Button)
            QTest::mouseClick(Wait().findChild<QPushButton*>("Button1"), Qt::LeftButton);
        else
            QTest::keyClick(&Wait(), Qt::Key_Escape);
    });
    QElapsedTimer Clock;
    Clock.start();
    Export();
    const qint64 Ms = Clock.elapsed();

    EXPECT_TRUE(Pressed) << "the event loop ran while the pipe took nothing";
    EXPECT_TRUE(WindowDisabled);
    EXPECT_LT(Ms, 3000);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(Wait().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_FALSE(Wait().ExportCancel);
    // what reached the pipe stays there, from the file's first byte on
    QByteArray Got(1 << 20, '\0');
    const ssize_t N = ::read(Reader, Got.data(), static_cast<size_t>(Got.size()));
    ::close(Reader);
    ASSERT_GT(N, 44);
    EXPECT_EQ(Got.left(N), TwinRendering("1.5").left(N));
    EXPECT_EQ(FilesIn(Out.path()), QStringList{"pipe.wav"});
}

INSTANTIATE_TEST_SUITE_P(By, TExportCancel, ::testing::Values(TCancelBy::Button, TCancelBy::Escape),
                         [](const ::testing::TestParamInfo<TCancelBy>& I) {
                             return std::string(I.param == TCancelBy::Button ? "Button" : "Escape");
                         });

TEST_F(TExport, ACancelledExportLeavesAnExistingFileAsItWas) {
    KnownSetUp();
    SavePath = Out.filePath("tone.wav");
    {
        QFile F(SavePath);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("earlier");
    }
    QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [this](int V) {
        if (V == 30)
            Wait().Button1Click();
    });
    Export();
    EXPECT_EQ(ReadAll(SavePath), QByteArray("earlier"));
    EXPECT_EQ(FilesIn(Out.path()), QStringList{"tone.wav"});
}

struct TUnwritable {
    const char* Name;
    const char* Path;  // under the output folder, which holds a regular file "plain"
};
void PrintTo(const TUnwritable& C, std::ostream* Os) { *Os << C.Name; }

class TExportFailure : public TExport, public ::testing::WithParamInterface<TUnwritable> {};

TEST_P(TExportFailure, ShowsOneMessageWhileTheDialogShowsThenGivesTheWindowBack) {
    {
        QFile F(Out.filePath("plain"));
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    }
    SavePath = Out.filePath(QString::fromLatin1(GetParam().Path));
    bool DialogShown = false, WindowDisabled = false;
    TMessageBoxes::SetInterceptor([&](TBoxKind Kind, const QString& Caption, const QString& Text) {
        Boxes.push_back({Kind, Caption, Text});
        DialogShown = Wait().isVisible();
        WindowDisabled = !G().isEnabled();
    });
    Export();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Message);
    EXPECT_EQ(Boxes[0].Text, "File Access Error, cannot write file.");
    EXPECT_TRUE(DialogShown);
    EXPECT_TRUE(WindowDisabled);
    EXPECT_FALSE(Wait().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_EQ(FilesIn(Out.path()), QStringList{"plain"});
}

INSTANTIATE_TEST_SUITE_P(Places, TExportFailure,
                         ::testing::Values(TUnwritable{"MissingFolder", "missing/tone.wav"},
                                           TUnwritable{"UnderARegularFile", "plain/tone.wav"}),
                         [](const ::testing::TestParamInfo<TUnwritable>& I) { return std::string(I.param.Name); });

TEST_F(TExport, DefaultNameCountsOscillatorsAndKeepsThePeriodText) {
    for (int I = 0; I < 9; ++I)
        QTest::mouseClick(W<QPushButton>("AddOscButton"), Qt::LeftButton);
    ASSERT_EQ(App->Synth.OscCount, 12);
    Edit("Duration")->setText("2,5");
    ApplicationHelpFile().clear();
    Export();  // cancelled in the save dialog

    ASSERT_EQ(Dialogs.size(), 1u);
    EXPECT_EQ(Dialogs[0].FileName, "Signal 12 Oscillators 2,5 Seconds.wav");
    EXPECT_EQ(App->Synth.PeriodSamples, 55125);  // prepared before the dialog
    EXPECT_EQ(FilesIn(Out.path()), QStringList());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ApplicationHelpFile(), G().HelpFilePath);
}

struct TBadPeriod {
    const char* Name;
    const char* Duration;
    const char* Error;
};
void PrintTo(const TBadPeriod& C, std::ostream* Os) { *Os << C.Name; }

class TExportBadPeriod : public TExport, public ::testing::WithParamInterface<TBadPeriod> {};

TEST_P(TExportBadPeriod, EndsTheCommandWithTheErrorBeforeTheSaveDialog) {
    SavePath = Out.filePath("tone.wav");
    Edit("Duration")->setText(QString::fromLatin1(GetParam().Duration));
    Export();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, QString::fromLatin1(GetParam().Error));
    EXPECT_TRUE(Dialogs.empty());
    EXPECT_FALSE(Wait().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_EQ(FilesIn(Out.path()), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Periods, TExportBadPeriod,
    ::testing::Values(TBadPeriod{"NotANumber", "abc", "'abc' is not a valid floating point value."},
                      TBadPeriod{"Zero", "0", "Invalid floating point operation."},
                      TBadPeriod{"Negative", "-1", "A negative period cannot be saved as a wave file."}),
    [](const ::testing::TestParamInfo<TBadPeriod>& I) { return std::string(I.param.Name); });

// ---- the 44.1 kHz hint

TEST_F(TExport, HintIsAWarningWithYesNoAndTheCheckBoxBelowTheText) {
    bool Inspected = false;
    InspectHint = [&](QMessageBox& Box, QCheckBox& DontShow) {
        Inspected = true;
        EXPECT_EQ(Box.windowTitle(), "Hint");
        EXPECT_EQ(Box.icon(), QMessageBox::Warning);
        EXPECT_EQ(Box.text(),
                  "If you would like to burn your created wave files to CD, they must be generated in stereo and "
                  "at 44.1kHz sampling rate. Your current settings are different. Would you like to adjust this "
                  "now?");
        EXPECT_EQ(Box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(Box.defaultButton(), Box.button(QMessageBox::Yes));
        EXPECT_EQ(Box.escapeButton(), Box.button(QMessageBox::No));
        EXPECT_EQ(DontShow.text(), "Don't show this message again.");
        EXPECT_FALSE(DontShow.isChecked());
        EXPECT_EQ(DontShow.geometry(), QRect(10, 110, 300, 30));

        Box.show();
        EXPECT_EQ(Box.height(), 200);
        EXPECT_EQ(DontShow.geometry(), QRect(10, 110, 300, 30));
        EXPECT_TRUE(DontShow.isVisible());
        // nothing of the toolkit's layout lies under the check box
        const auto* Text = Box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_TRUE(Text);
        EXPECT_LT(Text->mapTo(&Box, QPoint(0, Text->heightForWidth(Text->width()))).y(), 110);
        const auto* Buttons = Box.findChild<QDialogButtonBox*>();
        ASSERT_TRUE(Buttons);
        EXPECT_FALSE(Buttons->geometry().intersects(DontShow.geometry()));
        EXPECT_LE(Buttons->geometry().bottom(), 200);
        Box.hide();
    };
    Export();
    EXPECT_TRUE(Inspected);
}

// Enter presses the button with the focus, and Yes, the default, only where the
// focus is on no other button; Escape presses No.
enum class THintFocus { AsOpened, No, NoThenCheckBox };

struct THintKey {
    const char* Name;
    THintFocus Focus;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Answer;
};
void PrintTo(const THintKey& C, std::ostream* Os) { *Os << C.Name; }

class THintKeys : public TExport, public ::testing::WithParamInterface<THintKey> {};

TEST_P(THintKeys, AnswerTheButtonThatEnterOrEscapePresses) {
    const THintKey& C = GetParam();
    StoreKey();  // so that a tick would be stored
    constexpr int kStayedOpen = -1;
    int Result = 0;
    TGenerator::SetMessageDlgOnceHook([&](QMessageBox& Box, QCheckBox& DontShow) {
        QTimer::singleShot(0, &Box, [&] {
            if (QTest::qWaitFor([&] { return Box.isActiveWindow(); })) {
                if (C.Focus != THintFocus::AsOpened)
                    Box.button(QMessageBox::No)->setFocus(Qt::TabFocusReason);
                if (C.Focus == THintFocus::NoThenCheckBox)
                    DontShow.setFocus(Qt::TabFocusReason);
                QTest::keyClick(QApplication::focusWidget(), C.Key, C.Modifiers);
            }
            if (Box.isVisible())
                Box.done(kStayedOpen);
        });
        return Result = Box.exec();
    });
    Export();

    EXPECT_EQ(Result, C.Answer);
    EXPECT_EQ(App->Synth.SampleRate, C.Answer == QMessageBox::Yes ? 44100 : 22050);
    EXPECT_FALSE(CDformatStored());  // Enter on the check box does not tick it
    EXPECT_EQ(Dialogs.size(), 1u);
    EXPECT_TRUE(Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, THintKeys,
    ::testing::Values(
        THintKey{"ReturnAsOpened", THintFocus::AsOpened, Qt::Key_Return, {}, QMessageBox::Yes},
        THintKey{"ReturnOnNo", THintFocus::No, Qt::Key_Return, {}, QMessageBox::No},
        THintKey{"KeypadEnterOnNo", THintFocus::No, Qt::Key_Enter, Qt::KeypadModifier, QMessageBox::No},
        THintKey{"ReturnOnTheCheckBoxAfterNo", THintFocus::NoThenCheckBox, Qt::Key_Return, {}, QMessageBox::Yes},
        THintKey{"EscapeAsOpened", THintFocus::AsOpened, Qt::Key_Escape, {}, QMessageBox::No}),
    [](const ::testing::TestParamInfo<THintKey>& I) { return std::string(I.param.Name); });

TEST_F(TExport, At44100ThereIsNoHintAndNoSettingsAccess) {
    SelectRate("44100");
    SavePath = Out.filePath("cd.wav");
    // a store that cannot even be read: any look at it would count the value missing
    {
        QFile F(Out.filePath("blocked"));
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    }
    TRegistry::SetStorageFolder(Out.filePath("blocked"));
    Export();
    EXPECT_EQ(Hints, 0);
    const QByteArray File = ReadAll(SavePath);
    ASSERT_EQ(File.size(), 44 + 4 * 44100);
    EXPECT_EQ(File.mid(24, 4), QByteArray::fromHex("44ac0000"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TExport, HintComesBackUntilTheBoxIsTickedAlsoAfterARestart) {
    StoreKey();  // the program's key exists (a "Close" of the settings stored it)
    SavePath = Out.filePath("tone.wav");
    Answer = QMessageBox::No;
    Export();
    EXPECT_EQ(Hints, 1);
    EXPECT_FALSE(CDformatStored());

    TickBox = true;
    Export();
    EXPECT_EQ(Hints, 2);
    EXPECT_EQ(StoredInteger("CDformat"), 1);
    EXPECT_EQ(U32At(ReadAll(SavePath), 24), 22050u);  // No: the current rate

    TickBox = false;
    Export();
    EXPECT_EQ(Hints, 2);
    App.reset();
    StartApp();
    Export();
    EXPECT_EQ(Hints, 2);
    EXPECT_EQ(Dialogs.size(), 4u);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TExport, YesSwitchesTo44100AndCapsFrequenciesBeforeThePeriod) {
    Edit("fInit")->setText("30000");
    Edit("fFinal")->setText("30000");
    ASSERT_EQ(+Rec(0).FreqInit, 30000.0f);
    Rec(4).FreqFinal = 25000.0f;  // beyond the live ones too
    Answer = QMessageBox::Yes;
    SavePath = Out.filePath("cd.wav");
    Export();

    EXPECT_EQ(App->Synth.SampleRate, 44100);
    EXPECT_EQ(+Rec(0).FreqInit, 22050.0f);
    EXPECT_EQ(+Rec(0).FreqFinal, 22050.0f);
    EXPECT_EQ(+Rec(4).FreqFinal, 22050.0f);
    EXPECT_EQ(Edit("fInit")->text(), "22050");  // the tab was shown again
    const QByteArray File = ReadAll(SavePath);
    ASSERT_EQ(File.size(), 44 + 4 * 44100);
    EXPECT_EQ(U32At(File, 24), 44100u);
    EXPECT_EQ(File, TwinRendering("1"));
    EXPECT_FALSE(S().isVisible());
    EXPECT_FALSE(CDformatStored());  // nothing stored by the answer itself

    W<QAction>("CompatibilitySettings1")->trigger();
    EXPECT_EQ(W<QComboBox>("cboFsList")->currentText(), "44100");
    S().close();
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TExport, APlayingSignalPlaysThroughTheHintAndStopsBeforeTheSaveDialog) {
    QTest::mouseClick(W<QPushButton>("btnON"), Qt::LeftButton);
    ASSERT_TRUE(Playing());
    bool PlayingAtHint = false;
    InspectHint = [&](QMessageBox&, QCheckBox&) { PlayingAtHint = Playing(); };
    SavePath = Out.filePath("tone.wav");
    Export();
    EXPECT_TRUE(PlayingAtHint);
    ASSERT_EQ(Dialogs.size(), 1u);
    EXPECT_FALSE(Dialogs[0].Playing);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Playing());  // and it does not start again
    EXPECT_EQ(ReadAll(SavePath), TwinRendering("1"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TExport, ATickThatCannotBeStoredEndsTheCommand) {
    QTest::mouseClick(W<QPushButton>("btnON"), Qt::LeftButton);
    ASSERT_TRUE(Playing());
    // no key yet: the hint opens none and creates none
    Answer = QMessageBox::Yes;
    TickBox = true;
    SavePath = Out.filePath("tone.wav");
    Export();
    EXPECT_EQ(Hints, 1);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Failed to set data for 'CDformat'.");
    EXPECT_EQ(App->Synth.SampleRate, 22050);  // the answer was not applied
    EXPECT_EQ(W<QComboBox>("cboFsList")->currentText(), "22050");
    EXPECT_TRUE(Dialogs.empty());
    EXPECT_FALSE(TRegistry().KeyExists(Key));
    EXPECT_TRUE(G().isEnabled());
    EXPECT_TRUE(Playing());  // not stopped either
}

} // namespace
} // namespace zelvo::test
