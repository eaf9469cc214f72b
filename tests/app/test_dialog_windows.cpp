// The windows that the disabled main window waits for: what ties them to it,
// where they open, and which window takes the keyboard when the main window or
// the help window is chosen. Headless there is no window manager: these tests
// see what the program itself decides and asks for.
#include <QProgressBar>
#include <QScreen>
#include <QWindow>

#include <functional>
#include <sstream>

#include "app_fixture.h"
#include "app/dialog_window.h"
#include "app/file_dialog.h"
#include "app/tfrmabout.h"
#include "app/tfrmwait.h"
#include "platform/html_help.h"

namespace zelvo::test {
namespace {

struct TFitCase {
    const char* Name;
    QRect Frame;
    QRect Available;
    QPoint Expected;
};

TEST(FitIntoArea, KeepsAPlaceThatFitsElseMovesTheLeastDistanceIntoTheArea) {
    // the two dialogs at their design positions, each with a frame of 1, 1, 20, 1
    const QRect Settings(QPoint(776, 198), QSize(235, 184));
    const QRect About(QPoint(496, 167), QSize(358, 398));
    const TFitCase Cases[] = {
        {"1920x1080: settings as designed", Settings, QRect(0, 0, 1920, 1080), {776, 198}},
        {"1920x1080: about as designed", About, QRect(0, 0, 1920, 1080), {496, 167}},
        {"1024x768: settings as designed", Settings, QRect(0, 0, 1024, 768), {776, 198}},
        {"1024x768: about as designed", About, QRect(0, 0, 1024, 768), {496, 167}},
        {"800x600: settings moves left only", Settings, QRect(0, 0, 800, 600), {565, 198}},
        {"800x600: about moves left only", About, QRect(0, 0, 800, 600), {442, 167}},
        {"800x600 over a 40-pixel panel: about moves up too", About, QRect(0, 0, 800, 560), {442, 162}},
        {"800x600 under a 200-pixel panel: about moves down", About, QRect(0, 200, 800, 400), {442, 200}},
        {"the area exactly: its corner", QRect(QPoint(9, 9), QSize(800, 600)), QRect(0, 0, 800, 600), {0, 0}},
        {"a second screen right of the first", Settings, QRect(1920, 0, 1280, 1024), {1920, 198}},
        {"a screen left of the primary one", Settings, QRect(-1280, 0, 1280, 1024), {-235, 198}},
        {"320x240: settings fits once moved", Settings, QRect(0, 0, 320, 240), {85, 56}},
        {"320x240, smaller than about: its corner", About, QRect(0, 0, 320, 240), {0, 0}},
        {"narrower than about only: left edge, height as designed", About, QRect(100, 50, 300, 1000), {100, 167}},
    };
    for (const TFitCase& C : Cases) {
        const QPoint At = FitIntoArea(C.Frame, C.Available);
        EXPECT_EQ(At, C.Expected) << C.Name;
        const QRect Moved(At, C.Frame.size());
        if (C.Frame.width() <= C.Available.width() && C.Frame.height() <= C.Available.height()) {
            EXPECT_TRUE(C.Available.contains(Moved)) << C.Name;
        }
    }
}

enum class TWaiting { Settings, About, Export };
void PrintTo(TWaiting W, std::ostream* Os) {
    *Os << (W == TWaiting::Settings ? "Settings" : W == TWaiting::About ? "About" : "Export");
}

class TDialogWindows : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        SetHelpMessageHandler([](QWidget*, const QString& Text) { ADD_FAILURE() << Text.toStdString(); });
        TSaveDialog::SetHook([this](const TSaveDialog&) -> std::optional<QString> { return Out.filePath("x.wav"); });
        TGenerator::SetMessageDlgOnceHook([](QMessageBox&, QCheckBox&) { return int(QMessageBox::No); });
        StartApp();
        ShowWindow();
        G().installEventFilter(&MainActivations);
    }
    void TearDown() override {
        if (THelpWindow* H = HelpWindow())
            H->hide();
        SetHelpMessageHandler({});
        TSaveDialog::SetHook(nullptr);
        TGenerator::SetMessageDlgOnceHook(nullptr);
        TAppFixture::TearDown();
    }

    QWidget& Dialog(TWaiting Which) {
        if (Which == TWaiting::Settings)
            return S();
        if (Which == TWaiting::About)
            return *App->frmAbout;
        return *App->frmWait;
    }

    // Opens the dialog and runs Check while it shows, with the keyboard.
    void WhileShown(TWaiting Which, const std::function<void(QWidget&)>& Check) {
        QWidget& D = Dialog(Which);
        const auto Run = [&] {
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &D; }));
            Check(D);
        };
        if (Which != TWaiting::Export) {
            W<QAction>(Which == TWaiting::Settings ? "CompatibilitySettings1" : "About1")->trigger();
            Run();
            return;
        }
        // the export shows its dialog only while it writes: the check runs at the
        // first progress report
        bool Ran = false;
        auto* Bar = D.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        const auto Connection = QObject::connect(Bar, &QProgressBar::valueChanged, Bar, [&](int V) {
            if (V == 0 || Ran)
                return;
            Ran = true;
            Run();
        });
        W<QAction>("SaveToneasWave1")->trigger();
        QObject::disconnect(Connection);
        EXPECT_TRUE(Ran);
    }

    // True once the main window was made active and, after that, Dialog came
    // back with the keyboard.
    bool HandsOverTo(QWidget& D) {
        return QTest::qWaitFor([&] {
            return MainActivations.Count > 0 && QApplication::activeWindow() == &D && !D.isMinimized() &&
                   QApplication::focusWidget() && QApplication::focusWidget()->window() == &D;
        });
    }

    struct TActivations : QObject {
        int Count = 0;
        bool eventFilter(QObject*, QEvent* E) override {
            Count += E->type() == QEvent::WindowActivate;
            return false;
        }
    } MainActivations;
    QTemporaryDir Out;
};

class TTie : public TDialogWindows, public ::testing::WithParamInterface<TWaiting> {};

TEST_P(TTie, TheDialogIsTransientForTheMainWindowAndModalToItWithoutGreyingOut) {
    WhileShown(GetParam(), [&](QWidget& D) {
        ASSERT_TRUE(D.windowHandle());
        EXPECT_EQ(D.windowHandle()->transientParent(), G().windowHandle());
        EXPECT_EQ(D.windowHandle()->modality(), Qt::WindowModal);
        EXPECT_EQ(D.windowModality(), Qt::WindowModal);
        // the main window is disabled as before; the dialog, which is no child of
        // it, is not
        EXPECT_FALSE(G().isEnabled());
        EXPECT_TRUE(D.isEnabled());
        EXPECT_EQ(D.parentWidget(), nullptr);
    });
    EXPECT_TRUE(Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Dialogs, TTie, ::testing::Values(TWaiting::Settings, TWaiting::About, TWaiting::Export),
                         [](const ::testing::TestParamInfo<TWaiting>& I) {
                             std::ostringstream Os;
                             PrintTo(I.param, &Os);
                             return Os.str();
                         });

struct THandOver {
    const char* Name;
    TWaiting Waiting;
    bool DialogMinimised;  // alone, as some window managers allow
};
void PrintTo(const THandOver& C, std::ostream* Os) { *Os << C.Name; }

class THandOverTest : public TDialogWindows, public ::testing::WithParamInterface<THandOver> {};

TEST_P(THandOverTest, ChoosingTheMainWindowBringsBackTheDialogWithTheKeyboardAndItsKeys) {
    const THandOver& C = GetParam();
    WhileShown(C.Waiting, [&](QWidget& D) {
        MainActivations.Count = 0;
        if (C.DialogMinimised) {
            D.showMinimized();
            ASSERT_TRUE(D.isMinimized());
        }
        G().activateWindow();
        ASSERT_TRUE(HandsOverTo(D));
        EXPECT_FALSE(G().isEnabled());
        // Return presses "Close" or "OK", Escape cancels the export
        QTest::keyClick(QApplication::focusWidget(), C.Waiting == TWaiting::Export ? Qt::Key_Escape : Qt::Key_Return);
    });
    EXPECT_FALSE(Dialog(C.Waiting).isVisible());
    EXPECT_TRUE(G().isEnabled());
    if (C.Waiting == TWaiting::Settings) {
        EXPECT_EQ(StoredInteger("Fs"), 2);  // "Close", not the close box
    }
    if (C.Waiting == TWaiting::Export) {
        EXPECT_EQ(App->Synth.SampleIndex, 10000);  // cancelled at the first report
        EXPECT_FALSE(QFile::exists(Out.filePath("x.wav")));
    }
    EXPECT_TRUE(Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, THandOverTest,
    ::testing::Values(THandOver{"Settings", TWaiting::Settings, false},
                      THandOver{"SettingsMinimised", TWaiting::Settings, true},
                      THandOver{"About", TWaiting::About, false},
                      THandOver{"AboutMinimised", TWaiting::About, true},
                      THandOver{"Export", TWaiting::Export, false},
                      THandOver{"ExportMinimised", TWaiting::Export, true}),
    [](const ::testing::TestParamInfo<THandOver>& I) { return std::string(I.param.Name); });

TEST_F(TDialogWindows, SettingsAndAboutOpenWhollyOnTheMainWindowsScreen) {
    const QRect Area = G().screen()->availableGeometry();
    for (TWaiting Which : {TWaiting::Settings, TWaiting::About}) {
        const bool Settings = Which == TWaiting::Settings;
        const QPoint Design = Settings ? QPoint(776, 198) : QPoint(496, 167);
        QRect Shown;
        WhileShown(Which, [&](QWidget& D) { Shown = D.frameGeometry(); });
        EXPECT_TRUE(Area.contains(Shown)) << Settings;
        EXPECT_EQ(Shown.topLeft(), FitIntoArea(QRect(Design, Shown.size()), Area)) << Settings;
        Dialog(Which).close();
        // where the user put it, where that lies on the screen
        Dialog(Which).move(Area.topLeft() + QPoint(5, 6));
        WhileShown(Which, [&](QWidget& D) { EXPECT_EQ(D.pos(), Area.topLeft() + QPoint(5, 6)) << Settings; });
        Dialog(Which).close();
    }
}

// Which window the help window gives the keyboard back to when it closes.
enum class TAsker { MainWindow, Settings, About, MainWindowThenAbout };

struct THelpCase {
    const char* Name;
    TAsker Asker;
};
void PrintTo(const THelpCase& C, std::ostream* Os) { *Os << C.Name; }

class THelpClose : public TDialogWindows, public ::testing::WithParamInterface<THelpCase> {};

TEST_P(THelpClose, GivesTheKeyboardBackToTheWindowThatAskedIfItStillShows) {
    const TAsker A = GetParam().Asker;
    QWidget* Asker = &G();
    if (A == TAsker::Settings || A == TAsker::About) {
        Asker = &Dialog(A == TAsker::Settings ? TWaiting::Settings : TWaiting::About);
        W<QAction>(A == TAsker::Settings ? "CompatibilitySettings1" : "About1")->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == Asker; }));
        QTest::mouseClick(Asker->findChild<QPushButton*>(A == TAsker::Settings ? "HelpButton" : "AboutHelp"),
                          Qt::LeftButton);
    } else {
        W<QAction>("Help2")->trigger();
    }
    THelpWindow* H = HelpWindow();
    ASSERT_TRUE(H);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == H; }));
    QWidget* Expected = Asker;
    if (A == TAsker::MainWindowThenAbout) {
        // the main window asked, then waits for the about box: that takes it
        W<QAction>("About1")->trigger();
        Expected = App->frmAbout.get();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == Expected; }));
        H->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == H; }));
    }

    H->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == Expected; }));
    EXPECT_FALSE(H->isVisible());
    EXPECT_TRUE(Expected->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Askers, THelpClose,
                         ::testing::Values(THelpCase{"MainWindow", TAsker::MainWindow},
                                           THelpCase{"Settings", TAsker::Settings},
                                           THelpCase{"About", TAsker::About},
                                           THelpCase{"MainWindowThenAbout", TAsker::MainWindowThenAbout}),
                         [](const ::testing::TestParamInfo<THelpCase>& I) { return std::string(I.param.Name); });

} // namespace
} // namespace zelvo::test
