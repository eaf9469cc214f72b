// Start-up, the main window's frame, activation and close.
#include <QFile>
#include <QSignalSpy>

#include "app/memories.h"
#include "app/strings.h"
#include "app_fixture.h"
#include "platform/error_sink.h"
#include "synth/osc_record.h"

namespace zelvo::test {
namespace {

using TStartup = TAppFixture;

TEST_F(TStartup, StartsWithThreeDefaultOscillatorsAndFourEqualMemories) {
    StartApp();
    EXPECT_TRUE(Boxes.empty());

    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1", "Osc 2", "Osc 3"}));
    EXPECT_EQ(Tabs()->currentIndex(), 0);
    EXPECT_EQ(MenuCaptions(RemoveSubmenu()), QStringList({"Osc 2", "Osc 3"}));
    EXPECT_EQ(MenuCaptions(PopRemove()), QStringList({"Osc 2", "Osc 3"}));
    EXPECT_EQ(App->Synth.OscCount, 3);
    EXPECT_EQ(App->Synth.SampleRate, 22050);

    const TOscRecord Default = DefaultOscRecord();
    for (int I = 0; I < 25; ++I)
        EXPECT_EQ(std::memcmp(&Rec(I), &Default, sizeof Default), 0) << "record " << I;
    const TOscRecord Zero{};
    EXPECT_EQ(std::memcmp(&Rec(25), &Zero, sizeof Zero), 0);

    for (int No = 1; No <= 4; ++No) {
        const TMemorySlot& M = App->Memories[No];
        EXPECT_EQ(std::memcmp(M.Bank.data(), App->Synth.Oscillators.data(), sizeof M.Bank), 0) << No;
        EXPECT_EQ(M.Count, 3);
        EXPECT_EQ(M.Name(), "Memory " + std::to_string(No));
    }

    // the relation controls wait for the tabs after the first
    for (const char* Name : {"RadioAdd", "RadioMultiply", "fSummand", "fFactor", "Label1"})
        EXPECT_TRUE(W<QWidget>(Name)->isHidden()) << Name;
    auto* Wave = W<QComboBox>("WaveForm");
    ASSERT_EQ(Wave->count(), 5);
    EXPECT_EQ(Wave->currentIndex(), 0);
    EXPECT_EQ(Wave->itemText(3), "White Noise");

    auto* Devices = W<QComboBox>("WaveDevice");
    ASSERT_EQ(Devices->count(), 3);
    EXPECT_EQ(Devices->itemText(0), "Speakers");
    EXPECT_EQ(Devices->itemText(2), "Line out");
    EXPECT_EQ(Devices->currentIndex(), 0);
    EXPECT_EQ(G().AudioOut1->WaveDevice(), 0u);
    EXPECT_EQ(G().AudioOut1->FrameRate(), 22050);
    EXPECT_TRUE(W<QPushButton>("btnON")->isDefault());

    // nothing is stored before a close
    TRegistry Reg;
    EXPECT_FALSE(Reg.KeyExists(QStringLiteral("\\Software\\Quorvin\\Zelvo")));
    // the other windows exist and stay hidden
    EXPECT_TRUE(App->frmAbout && App->frmSettings && App->frmWait);
    EXPECT_FALSE(App->frmSettings->isVisible());
}

TEST_F(TStartup, WindowIsFixedWithItsClientAreaBelowTheMenuBar) {
    StartApp();
    ShowWindow();
    QWidget* Client = G().centralWidget();
    EXPECT_EQ(Client->size(), QSize(491, 384));
    EXPECT_EQ(Client->y(), G().menuBar()->height());
    EXPECT_EQ(G().height(), G().menuBar()->height() + 384);  // nothing cut off below
    EXPECT_EQ(G().minimumSize(), G().maximumSize());
    EXPECT_FALSE(G().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(W<QWidget>("TabControl1")->geometry(), QRect(1, 32, 480, 238));
    EXPECT_EQ(W<QWidget>("btnON")->geometry(), QRect(402, 345, 44, 24));
    EXPECT_EQ(W<QWidget>("fInit")->mapTo(Client, QPoint(0, 0)), QPoint(1 + 28 + 6, 32 + 115 + 22));
}

TEST_F(TStartup, TitleIsSetAtEveryActivation) {
    StartApp();
    EXPECT_EQ(G().windowTitle(), "Zelvo");
    ShowWindow();
    EXPECT_EQ(G().windowTitle(), "Zelvo 1.0");
    EXPECT_EQ(TMessageBoxes::ApplicationTitle(), "Zelvo 1.0");
    G().setWindowTitle("something else");
    QWidget Other;
    Other.show();
    Other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Other));
    G().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&G()));
    EXPECT_EQ(G().windowTitle(), "Zelvo 1.0");
}

TEST_F(TStartup, WithoutDevicesTheMessageComesAndOnStaysOff) {
    StartApp({});
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Message);
    EXPECT_EQ(Boxes[0].Text, "No Soundcard driver found. No sound output possible.");
    EXPECT_FALSE(W<QPushButton>("btnON")->isEnabled());
    EXPECT_FALSE(W<QAction>("OnOff1")->isEnabled());
    EXPECT_EQ(W<QComboBox>("WaveDevice")->count(), 0);
    EXPECT_EQ(G().AudioOut1->WaveDevice(), wave::WAVE_MAPPER);

    // editing still works, and a change of tab cannot focus the disabled button
    ShowWindow();
    ClickTab(1);
    EXPECT_EQ(Tabs()->currentIndex(), 1);
    G().close();
    EXPECT_EQ(StoredInteger("WaveDevice"), -1);
}

TEST_F(TStartup, CloseStoresTheChosenDevice) {
    StartApp();
    ShowWindow();
    auto* Devices = W<QComboBox>("WaveDevice");
    Devices->setFocus();
    QTest::keyClick(Devices, Qt::Key_Down);
    QTest::keyClick(Devices, Qt::Key_Down);
    EXPECT_EQ(G().AudioOut1->WaveDevice(), 2u);
    QSignalSpy Closed(&G(), &TGenerator::Closed);
    W<QAction>("Exit1")->trigger();
    EXPECT_EQ(Closed.count(), 1);
    EXPECT_FALSE(G().isVisible());
    EXPECT_EQ(StoredInteger("WaveDevice"), 2);
}

TEST_F(TStartup, CloseEndsEvenWhenTheStoreCannotBeWritten) {
    StartApp();
    ShowWindow();
    // a plain file where the settings folder should be: nothing can be written
    const QString Blocker = Dir.filePath("blocked");
    QFile F(Blocker);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.close();
    TRegistry::SetStorageFolder(Blocker);
    QSignalSpy Closed(&G(), &TGenerator::Closed);
    G().close();
    EXPECT_EQ(Closed.count(), 1);
    EXPECT_FALSE(G().isVisible());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Failed to set data for 'WaveDevice'.");
}

TEST_F(TStartup, OnlyExistingFilesWithTheLowerCaseExtensionAreLoaded) {
    QTemporaryDir Files;
    auto Make = [&](const QString& Name) {
        const QString Path = Files.filePath(Name);
        QFile F(Path);
        EXPECT_TRUE(F.open(QIODevice::WriteOnly));
        return Path;
    };
    QDir(Files.path()).mkdir("presets.zvo");
    QDir(Files.path()).mkdir("folder.zvo.d");
    struct TCase {
        QString Path;
        bool Loaded;
    } Cases[] = {
        {Make("tones.zvo"), true},
        {Make("tones.ZVO"), false},
        {Make("tones.zvo.bak"), true},
        {Make("folder.zvo.d/notes.txt"), true},
        {Files.filePath("missing.zvo"), false},
        {Files.filePath("presets.zvo"), false},  // a folder is no file
        {Make("plain.txt"), false},
        {QString(), false},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(TApplication::IsPresetArgument(QFile::encodeName(C.Path).toStdString()), C.Loaded)
            << C.Path.toStdString();

    StartApp({"Speakers"}, {"zelvo", Cases[0].Path});
    EXPECT_EQ(App->CommandLinePath, QFile::encodeName(Cases[0].Path).toStdString());
}

TEST(TErrorBox, ShowsTheMessageWithOneFullStopAndTheTitle) {
    std::vector<TBox> Seen;
    TMessageBoxes::SetApplicationTitle("Zelvo");
    TMessageBoxes::SetInterceptor(
        [&](TBoxKind Kind, const QString& Caption, const QString& Text) { Seen.push_back({Kind, Caption, Text}); });
    for (const char* Text : {"'' is not a valid floating point value", "Floating point overflow."})
        GuardHandler([&] { throw std::runtime_error(Text); });
    TMessageBoxes::SetInterceptor(nullptr);
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Seen[0].Caption, "Zelvo");
    EXPECT_EQ(Seen[0].Text, "'' is not a valid floating point value.");
    EXPECT_EQ(Seen[1].Text, "Floating point overflow.");
}

TEST(TMemorySlotLayout, NameKeepsTheTailOfALongerOne) {
    TMemorySlot M{};
    M.SetName("Memory 1234");
    M.SetName("Mem");
    EXPECT_EQ(M.Name(), "Mem");
    EXPECT_EQ(std::string(M.NameChars, 11), "Memory 1234");
    M.SetName(std::string(300, 'x'));
    EXPECT_EQ(M.NameLength, 255);
}

} // namespace
} // namespace zelvo::test
