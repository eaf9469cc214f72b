// The about box, the help contexts of the three windows, and the keys that
// press the buttons of the two dialogs.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QSet>

#include <algorithm>
#include <array>
#include <numeric>

#include "app_fixture.h"
#include "app/tfrmabout.h"
#include "platform/html_help.h"

namespace zelvo::test {
namespace {

class TAboutHelp : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        SetHelpMessageHandler([this](QWidget*, const QString& Text) { HelpMessages << Text; });
        TfrmAbout::SetOpenUrlHook([this](const QUrl& Url) { Opened << Url; });
        ApplicationHelpFile().clear();
        StartApp();
        ShowWindow();
    }
    void TearDown() override {
        if (THelpWindow* H = HelpWindow())
            H->hide();
        SetHelpMessageHandler({});
        TfrmAbout::SetOpenUrlHook({});
        TAppFixture::TearDown();
    }

    TfrmAbout& About() { return *App->frmAbout; }
    template <class T>
    T* A(const char* Name) {
        T* Found = About().findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }
    void OpenAbout() {
        W<QAction>("About1")->trigger();
        ASSERT_TRUE(About().isVisible());
    }
    // Hides the help window on a page of no context, so that the next request
    // must show it again.
    void Away() {
        if (THelpWindow* H = HelpWindow()) {
            H->hide();
            H->Browser()->setSource(THelpBrowser::TopicUrl(QStringLiteral("/none.htm")));
        }
    }
    // The help window shows Topic of the program's own help file.
    void ExpectTopic(const char* Topic, const char* Heading) {
        THelpWindow* H = HelpWindow();
        ASSERT_TRUE(H);
        EXPECT_TRUE(H->isVisible());
        EXPECT_EQ(H->HelpFile(), QFileInfo(G().HelpFilePath).absoluteFilePath());
        EXPECT_EQ(H->CurrentTopic(), QString::fromLatin1(Topic));
        EXPECT_EQ(H->CurrentHeading(), QString::fromLatin1(Heading));
        Away();
    }

    QStringList HelpMessages;
    QList<QUrl> Opened;
};

TEST_F(TAboutHelp, EachWindowOpensItsOwnContextInTheFileBesideTheProgram) {
    EXPECT_EQ(G().HelpFilePath, QDir(QCoreApplication::applicationDirPath()).filePath("zvo.chm"));
    // the about box's creation assigned the help file at start-up
    EXPECT_EQ(ApplicationHelpFile(), G().HelpFilePath);

    QTest::keyClick(&G(), Qt::Key_F1);  // right after start-up
    ExpectTopic("/main_window.htm", "The Zelvo main window");

    W<QAction>("CompatibilitySettings1")->trigger();
    QTest::mouseClick(W<QPushButton>("HelpButton"), Qt::LeftButton);
    ExpectTopic("/settings.htm", "Compatibility Settings");
    S().activateWindow();  // back from the help window
    ASSERT_TRUE(QTest::qWaitForWindowActive(&S()));
    QTest::keyClick(&S(), Qt::Key_F1);
    ExpectTopic("/settings.htm", "Compatibility Settings");
    S().close();

    OpenAbout();
    QTest::mouseClick(A<QPushButton>("AboutHelp"), Qt::LeftButton);
    ExpectTopic("/about.htm", "About Zelvo");
    QTest::keyClick(&About(), Qt::Key_F1);
    ExpectTopic("/about.htm", "About Zelvo");
    About().close();

    W<QAction>("Help2")->trigger();
    ExpectTopic("/main_window.htm", "The Zelvo main window");
    EXPECT_TRUE(HelpMessages.isEmpty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TAboutHelp, AMissingHelpFileIsReportedByTheViewer) {
    G().HelpFilePath = Dir.filePath("zvo.chm");
    W<QAction>("Help2")->trigger();
    ASSERT_EQ(HelpMessages.size(), 1);
    EXPECT_TRUE(HelpMessages[0].contains("Cannot open the help file")) << HelpMessages[0].toStdString();
    EXPECT_TRUE(HelpMessages[0].contains(Dir.filePath("zvo.chm")));
    // the box's and the dialog's Help use the file assigned when their window opened
    OpenAbout();
    QTest::mouseClick(A<QPushButton>("AboutHelp"), Qt::LeftButton);
    EXPECT_EQ(HelpMessages.size(), 2);
    About().close();
    W<QAction>("CompatibilitySettings1")->trigger();
    QTest::mouseClick(W<QPushButton>("HelpButton"), Qt::LeftButton);
    EXPECT_EQ(HelpMessages.size(), 3);
    S().close();
    EXPECT_TRUE(Boxes.empty());
}

// The build tree keeps the help file beside the program, an installed program
// under share/zelvo beside its bin folder.
TEST(HelpFileLocation, BesideTheProgramFirstThenTheInstalledDataFolder) {
    struct TCase {
        const char* Layout;
        bool Beside, Installed;
        bool FindsInstalled;
    };
    const TCase Cases[] = {
        {"beside only", true, false, false},
        {"installed only", false, true, true},
        {"both", true, true, false},
        {"neither: the viewer names the file beside", false, false, false},
    };
    for (const TCase& C : Cases) {
        QTemporaryDir Prefix;
        const QDir Root(Prefix.path());
        ASSERT_TRUE(Root.mkpath("bin") && Root.mkpath("share/zelvo"));
        const QString Beside = Root.filePath("bin/zvo.chm");
        const QString Installed = Root.filePath("share/zelvo/zvo.chm");
        const auto Touch = [](const QString& Path) { return QFile(Path).open(QIODevice::WriteOnly); };
        ASSERT_TRUE(!C.Beside || Touch(Beside));
        ASSERT_TRUE(!C.Installed || Touch(Installed));
        EXPECT_EQ(LocateHelpFile(Root.filePath("bin")), C.FindsInstalled ? Installed : Beside) << C.Layout;
    }
}

TEST_F(TAboutHelp, AboutBoxDisablesTheMainWindowUntilItClosesAnyWay) {
    G().HelpFilePath = QStringLiteral("/elsewhere/zvo.chm");
    OpenAbout();
    EXPECT_EQ(ApplicationHelpFile(), "/elsewhere/zvo.chm");
    EXPECT_FALSE(G().isEnabled());
    EXPECT_EQ(A<QLabel>("Version")->text(), "Version 1.0");
    EXPECT_EQ(About().windowTitle(), "About");
    QTest::keyClick(&G(), Qt::Key_F2);  // the main window takes nothing
    EXPECT_EQ(App->Synth.OscCount, 3);

    QTest::mouseClick(A<QPushButton>("OKButton"), Qt::LeftButton);
    EXPECT_FALSE(About().isVisible());
    EXPECT_TRUE(G().isEnabled());

    OpenAbout();  // shown again: the version is set, not appended
    EXPECT_EQ(A<QLabel>("Version")->text(), "Version 1.0");
    About().close();  // the close box
    EXPECT_FALSE(About().isVisible());
    EXPECT_TRUE(G().isEnabled());

    OpenAbout();
    QTest::keyClick(&About(), Qt::Key_Return);  // OK is the default button
    EXPECT_FALSE(About().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_TRUE(Boxes.empty());
}

// Enter presses the button with the focus, and the default button only where
// the focus is on no other button; neither dialog has a button for Escape.
enum class TDialog { Settings, About };
enum class TPressed { Nothing, Close, Help };

struct TDialogKey {
    const char* Name;
    TDialog Dialog;
    const char* Focus;  // moved there by Tab; nullptr: where the dialog puts it
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    TPressed Pressed;
};
void PrintTo(const TDialogKey& C, std::ostream* Os) { *Os << C.Name; }

class TDialogKeys : public TAboutHelp, public ::testing::WithParamInterface<TDialogKey> {};

TEST_P(TDialogKeys, PressTheFocusedButtonAsTheOpenedDialogTakesThem) {
    const TDialogKey& C = GetParam();
    const bool Settings = C.Dialog == TDialog::Settings;
    QWidget& Dialog = Settings ? static_cast<QWidget&>(S()) : About();
    W<QAction>(Settings ? "CompatibilitySettings1" : "About1")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Dialog.isActiveWindow(); }));
    if (C.Focus) {
        auto* Target = Dialog.findChild<QWidget*>(QString::fromLatin1(C.Focus));
        ASSERT_TRUE(Target);
        Target->setFocus(Qt::TabFocusReason);
    }
    QWidget* Focused = QApplication::focusWidget();
    ASSERT_TRUE(Focused && Focused->window() == &Dialog);
    QTest::keyClick(Focused, C.Key, C.Modifiers);

    EXPECT_EQ(Dialog.isVisible(), C.Pressed != TPressed::Close);
    EXPECT_EQ(G().isEnabled(), C.Pressed == TPressed::Close);
    // "Close" of the settings stores them; no other way out of a dialog does
    EXPECT_EQ(TRegistry().KeyExists(QStringLiteral("\\Software\\Quorvin\\Zelvo")),
              Settings && C.Pressed == TPressed::Close);
    const THelpWindow* H = HelpWindow();
    ASSERT_EQ(H && H->isVisible(), C.Pressed == TPressed::Help);
    if (H && H->isVisible()) {
        EXPECT_EQ(H->CurrentTopic(), Settings ? "/settings.htm" : "/about.htm");
    }
    EXPECT_TRUE(HelpMessages.isEmpty());
    EXPECT_TRUE(Boxes.empty());
}

constexpr auto kReturn = Qt::Key_Return;
constexpr auto kKeypadEnter = Qt::Key_Enter;
constexpr auto kEscape = Qt::Key_Escape;
const Qt::KeyboardModifiers kNone{};
const Qt::KeyboardModifiers kKeypad{Qt::KeypadModifier};

INSTANTIATE_TEST_SUITE_P(
    Cases, TDialogKeys,
    ::testing::Values(
        TDialogKey{"SettingsReturnAsOpened", TDialog::Settings, nullptr, kReturn, kNone, TPressed::Close},
        TDialogKey{"SettingsKeypadEnterOnClose", TDialog::Settings, "Button1", kKeypadEnter, kKeypad,
                   TPressed::Close},
        TDialogKey{"SettingsReturnOnHelp", TDialog::Settings, "HelpButton", kReturn, kNone, TPressed::Help},
        TDialogKey{"SettingsReturnOnAListHasNoDefault", TDialog::Settings, "cboFsList", kReturn, kNone,
                   TPressed::Nothing},
        TDialogKey{"SettingsEscape", TDialog::Settings, nullptr, kEscape, kNone, TPressed::Nothing},
        TDialogKey{"AboutReturnAsOpened", TDialog::About, nullptr, kReturn, kNone, TPressed::Close},
        TDialogKey{"AboutReturnOnHelp", TDialog::About, "AboutHelp", kReturn, kNone, TPressed::Help},
        TDialogKey{"AboutKeypadEnterOnHelp", TDialog::About, "AboutHelp", kKeypadEnter, kKeypad, TPressed::Help},
        TDialogKey{"AboutEscape", TDialog::About, nullptr, kEscape, kNone, TPressed::Nothing}),
    [](const ::testing::TestParamInfo<TDialogKey>& I) { return std::string(I.param.Name); });

TEST_F(TAboutHelp, APlayingSignalPlaysOnWhileTheBoxShows) {
    QTest::mouseClick(W<QPushButton>("btnON"), Qt::LeftButton);
    ASSERT_TRUE(G().AudioOut1->Active);
    OpenAbout();
    QCoreApplication::processEvents();
    EXPECT_TRUE(G().AudioOut1->Active);
    About().close();
    EXPECT_TRUE(G().AudioOut1->Active);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TAboutHelp, HomePageOpensTheLabelsOwnText) {
    OpenAbout();
    QLabel* Link = A<QLabel>("Homepage");
    QTest::mouseClick(Link, Qt::LeftButton, {}, Link->rect().center());
    Link->setText(QStringLiteral("https://elsewhere.example/zelvo"));
    QTest::mouseClick(Link, Qt::LeftButton, {}, Link->rect().center());
    EXPECT_EQ(Opened, (QList<QUrl>{QUrl("https://zelvo.example/"), QUrl("https://elsewhere.example/zelvo")}));
    EXPECT_TRUE(About().isVisible());
    About().close();
}

TEST_F(TAboutHelp, ProgramIconIs32By32In16ColoursWithClearCorners) {
    const QImage Icon = ProgramIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(Icon.size(), QSize(32, 32));
    QSet<QRgb> Colours;
    for (int Y = 0; Y < 32; ++Y)
        for (int X = 0; X < 32; ++X)
            if (qAlpha(Icon.pixel(X, Y)) == 255)
                Colours.insert(Icon.pixel(X, Y));
    EXPECT_GE(Colours.size(), 5);
    EXPECT_LE(Colours.size(), 16);
    EXPECT_EQ(qAlpha(Icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(Icon.pixel(31, 31)), 0);
    EXPECT_EQ(qAlpha(Icon.pixel(16, 16)), 255);
    EXPECT_FALSE(A<QLabel>("ProgramIcon")->pixmap().isNull());
    EXPECT_FALSE(QApplication::windowIcon().isNull());
}

// The desktop's icons are the about box's picture with each of its pixels
// taking the same room: at a whole multiple of 32 a block of its colour, at
// 48 a blend with its neighbours.
TEST_F(TAboutHelp, DesktopIconsAreTheProgramIconAtLargerSizes) {
    // premultiplied: a clear pixel is clear whatever colour it keeps, and a
    // blend is the average of its parts
    const auto Pixels = [](const QImage& I) { return I.convertToFormat(QImage::Format_ARGB32_Premultiplied); };
    const auto Channels = [](QRgb P) { return std::array<int, 4>{qRed(P), qGreen(P), qBlue(P), qAlpha(P)}; };
    const QImage Icon = Pixels(ProgramIcon().pixmap(32, 32).toImage());
    const QDir Icons(QStringLiteral(ZELVO_ICON_DIR));
    QList<int> Sizes;
    for (const QString& Folder : Icons.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const int N = Folder.section(QLatin1Char('x'), 0, 0).toInt();
        const QImage Png = Pixels(QImage(Icons.filePath(Folder + "/apps/zelvo.png")));
        ASSERT_EQ(Png.size(), QSize(N, N)) << Folder.toStdString();
        // Each pixel is the drawing's pixel under it or, where it spans more
        // than one, lies between them (give or take the rounding).
        for (int Y = 0; Y < N; ++Y)
            for (int X = 0; X < N; ++X) {
                const int X0 = X * 32 / N, X1 = ((X + 1) * 32 - 1) / N;
                const int Y0 = Y * 32 / N, Y1 = ((Y + 1) * 32 - 1) / N;
                if (X0 == X1 && Y0 == Y1) {
                    ASSERT_EQ(Png.pixel(X, Y), Icon.pixel(X0, Y0)) << Folder.toStdString() << " at " << X << "," << Y;
                    continue;
                }
                const auto Got = Channels(Png.pixel(X, Y));
                for (size_t C = 0; C < Got.size(); ++C) {
                    int Lo = 255, Hi = 0;
                    for (int V = Y0; V <= Y1; ++V)
                        for (int U = X0; U <= X1; ++U) {
                            Lo = std::min(Lo, Channels(Icon.pixel(U, V))[C]);
                            Hi = std::max(Hi, Channels(Icon.pixel(U, V))[C]);
                        }
                    ASSERT_GE(Got[C], Lo - 1) << Folder.toStdString() << " at " << X << "," << Y;
                    ASSERT_LE(Got[C], Hi + 1) << Folder.toStdString() << " at " << X << "," << Y;
                }
            }
        // Every pixel of the drawing takes the same room: wherever the
        // drawing's pixel edges and the icon's meet (2 x 2 pixels of the
        // drawing are 3 x 3 at 48), the icon holds (N/32)^2 times the
        // drawing's colour. Widening straight to 48 doubles every other row
        // and column, and gives itself away here.
        const int Tiles = std::gcd(32, N), From = 32 / Tiles, To = N / Tiles;
        for (int TY = 0; TY < Tiles; ++TY)
            for (int TX = 0; TX < Tiles; ++TX) {
                std::array<long, 4> InIcon{}, InDrawing{};
                for (int Y = 0; Y < To; ++Y)
                    for (int X = 0; X < To; ++X)
                        for (size_t C = 0; C < 4; ++C) InIcon[C] += Channels(Png.pixel(TX * To + X, TY * To + Y))[C];
                for (int Y = 0; Y < From; ++Y)
                    for (int X = 0; X < From; ++X)
                        for (size_t C = 0; C < 4; ++C)
                            InDrawing[C] += Channels(Icon.pixel(TX * From + X, TY * From + Y))[C];
                for (size_t C = 0; C < 4; ++C)
                    // scaled to whole numbers; each pixel of the icon may be 2 off by rounding
                    ASSERT_NEAR(InIcon[C] * From * From, InDrawing[C] * To * To, 2 * To * To * From * From)
                        << Folder.toStdString() << " in the block at " << TX * To << "," << TY * To << ", channel " << C;
            }
        Sizes << N;
    }
    for (int N : {32, 48, 128})
        EXPECT_TRUE(Sizes.contains(N)) << N;
}

} // namespace
} // namespace zelvo::test
