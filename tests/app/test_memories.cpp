// The four memory presets: store, recall with the tabs and menus it rebuilds,
// renaming in place, and memories with values only a foreign file can bring.
#include <QKeyEvent>
#include <QPalette>
#include <climits>
#include <functional>

#include "app/ansi_text.h"
#include "app_fixture.h"

namespace zelvo::test {
namespace {

class TMemories : public TAppFixture {
protected:
    void Start() {
        StartApp();
        ShowWindow();
    }
    QPushButton* MemButton(int No) {
        const char* Names[4] = {"Mem1", "Mem2", "Memory3", "Memory4"};
        return W<QPushButton>(Names[No - 1]);
    }
    QLineEdit* MemEdit(int No) {
        const char* Names[4] = {"Mem1Edit", "Mem2Edit", "Mem3Edit", "Mem4Edit"};
        return Edit(Names[No - 1]);
    }
    void Store(int No) { G().PopupMenus[static_cast<size_t>(No - 1)]->actions().at(0)->trigger(); }
    void Rename(int No) { G().PopupMenus[static_cast<size_t>(No - 1)]->actions().at(1)->trigger(); }
    void Recall(int No) { QTest::mouseClick(MemButton(No), Qt::LeftButton); }
    TMemorySlot& Mem(int No) { return App->Memories[No]; }
    std::vector<uint8_t> SlotBytes(int No) {
        const auto* P = reinterpret_cast<const uint8_t*>(&Mem(No));
        return std::vector<uint8_t>(P, P + sizeof(TMemorySlot));
    }
    void SetTabCount(int N) {
        while (Tabs()->count() < N)
            QTest::mouseClick(W<QPushButton>("AddOscButton"), Qt::LeftButton);
        while (Tabs()->count() > N)
            PopRemove()->actions().last()->trigger();
    }
    // The waveform each tab's image shows, -1 for none.
    std::vector<int> TabImageKinds() {
        std::vector<int> Kinds;
        for (const QPixmap& P : G().TabImages) {
            int Kind = -1;
            for (int K = 0; K < 5; ++K)
                if (!P.isNull() && P.cacheKey() == G().WaveBitmaps[static_cast<size_t>(K)].cacheKey())
                    Kind = K;
            Kinds.push_back(Kind);
        }
        return Kinds;
    }
    static QStringList ExpectedTabs(int N) {
        QStringList L{"Oscillator 1"};
        for (int I = 2; I <= N; ++I)
            L << QStringLiteral("Osc %1").arg(I);
        return L;
    }
    static QStringList ExpectedItems(int N) {
        QStringList L;
        for (int I = 2; I <= N; ++I)
            L << QStringLiteral("Osc %1").arg(I);
        return L;
    }
};

TEST_F(TMemories, StoreAndRecallGiveBackEveryRecordByteForByte) {
    Start();
    SetTabCount(5);
    // values the controls show and read back unchanged, and running fields
    // that no control touches
    for (int I = 0; I < 26; ++I) {
        TOscRecord& R = Rec(I);
        R.FreqInit = 100.0f + static_cast<float>(I);
        R.FreqFinal = 200.0f + 3.0f * static_cast<float>(I);
        R.LogSweep = I % 2;
        R.BiDir = I % 3 == 0;
        R.ModeIndependent = I % 3 == 0;
        R.ModeAdd = I % 3 == 1;
        R.ModeMultiply = I % 3 == 2;
        R.Summand = 1.5f;
        R.Factor = 2.25f;
        R.Reserved = static_cast<uint8_t>(0xA0 + I);
        R.LeftOn = I % 4 != 1;
        R.RightOn = I % 4 != 2;
        R.PhaseDeg = static_cast<float>(I * 10);
        R.WaveKind = I % 5;
        R.GainInit = I % 2 ? 0.1f : 0.01f;  // -20 dB and -40 dB
        R.GainFinal = 0.5f;
        R.Omega = 7.25f * static_cast<float>(I);
        R.SweepRatio = 1.0001f;
        R.SweepStep = -0.5f;
        R.Phase = 0.25f;
        R.Gain = 0.75f;
    }
    const std::vector<uint8_t> Stored = BankBytes();
    Store(2);
    EXPECT_EQ(std::memcmp(Mem(2).Bank.data(), Stored.data(), Stored.size()), 0);
    EXPECT_EQ(Mem(2).Count, 5);
    EXPECT_EQ(Mem(2).Name(), "Memory 2") << "a store never touches the name";
    EXPECT_EQ(MemButton(2)->text(), "Memory 2");

    Recall(1);
    Rec(0).FreqInit = 1234;
    Rec(25).Omega = 1;
    ASSERT_NE(BankBytes(), Stored);

    Recall(2);
    EXPECT_EQ(BankBytes(), Stored);
    EXPECT_EQ(App->Synth.OscCount, 5);
    EXPECT_EQ(App->Synth.LastOsc, 4);
    EXPECT_EQ(TabCaptions(), ExpectedTabs(5));
    EXPECT_EQ(Tabs()->currentIndex(), 4);
    EXPECT_EQ(Edit("fInit")->text(), "104") << "the controls show the last oscillator";
    EXPECT_EQ(TabImageKinds(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(MemButton(2)->text(), "Memory 2");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TMemories, RecallRebuildsTabsMenusAndImagesForTheRecalledCount) {
    struct TCase {
        int TabsBefore;
        int CurrentBefore;
        int Count;
    };
    for (const TCase C : {TCase{5, 4, 2}, TCase{1, 0, 4}, TCase{3, 1, 1}, TCase{2, 1, 25}, TCase{25, 12, 3}}) {
        SCOPED_TRACE(::testing::Message() << C.TabsBefore << " tabs to " << C.Count);
        TearDown();
        SetUp();
        Start();
        TMemorySlot& M = Mem(3);
        M.Bank = App->Synth.Oscillators;
        for (int I = 0; I < 26; ++I)
            M.Bank[static_cast<size_t>(I)].WaveKind = (I + 2) % 5;
        M.Count = C.Count;
        SetTabCount(C.TabsBefore);
        ClickTab(C.CurrentBefore);

        Recall(3);
        EXPECT_EQ(App->Synth.OscCount, C.Count);
        EXPECT_EQ(App->Synth.LastOsc, C.Count - 1);
        EXPECT_EQ(TabCaptions(), ExpectedTabs(C.Count));
        EXPECT_EQ(Tabs()->currentIndex(), C.Count - 1);
        EXPECT_EQ(W<QComboBox>("WaveForm")->currentIndex(), (C.Count + 1) % 5);
        EXPECT_EQ(MenuCaptions(RemoveSubmenu()), ExpectedItems(C.Count));
        EXPECT_EQ(MenuCaptions(PopRemove()), ExpectedItems(C.Count));
        std::vector<int> Kinds;
        for (int I = 0; I < C.Count; ++I)
            Kinds.push_back((I + 2) % 5);
        EXPECT_EQ(TabImageKinds(), Kinds);
        for (int I = 0; I < C.Count; ++I)
            EXPECT_FALSE(Tabs()->tabIcon(I).isNull()) << I;

        // the rebuilt remove items work
        if (C.Count > 1) {
            RemoveSubmenu()->actions().last()->trigger();
            EXPECT_EQ(TabCaptions(), ExpectedTabs(C.Count - 1));
            EXPECT_EQ(MenuCaptions(PopRemove()), ExpectedItems(C.Count - 1));
        }
        EXPECT_TRUE(Boxes.empty());
    }
}

// Only a preset file can bring these values; nothing they hold may crash the
// window or the synthesis.
TEST_F(TMemories, ARecallTamesWhatOnlyAForeignFileCanBring) {
    struct TCase {
        int32_t Count;
        int Tabs;
    };
    for (const TCase C : {TCase{0, 1}, TCase{-7, 1}, TCase{INT_MIN, 1}, TCase{26, 25}, TCase{1000, 25}}) {
        SCOPED_TRACE(C.Count);
        TearDown();
        SetUp();
        Start();
        TMemorySlot& M = Mem(4);
        M.Count = C.Count;
        M.Bank[0].WaveKind = 9;
        M.Bank[0].LeftOn = 0x80;
        M.Bank[0].ModeIndependent = 0xFF;
        M.Bank[24].WaveKind = -3;
        Recall(4);
        EXPECT_EQ(App->Synth.OscCount, C.Tabs);
        EXPECT_EQ(App->Synth.LastOsc, C.Tabs - 1);
        EXPECT_EQ(TabCaptions().size(), C.Tabs);
        EXPECT_EQ(MenuCaptions(PopRemove()).size(), C.Tabs - 1);
        EXPECT_EQ(Tabs()->currentIndex(), C.Tabs - 1);

        // an unknown waveform shows no item and no image, and stays as it came
        ClickTab(0);
        EXPECT_EQ(W<QComboBox>("WaveForm")->currentIndex(), -1);
        EXPECT_EQ(TabImageKinds().front(), -1);
        EXPECT_EQ(Rec(0).WaveKind, 9);
        EXPECT_EQ(Rec(24).WaveKind, -3);
        EXPECT_TRUE(W<QCheckBox>("LeftTick")->isChecked());
        EXPECT_TRUE(W<QRadioButton>("RadioIndependent")->isChecked());
        EXPECT_TRUE(Boxes.empty());
    }
}

TEST_F(TMemories, RenameCommitsWithEnterTabOrAClickElsewhere) {
    enum class THow { Enter, Tab, Click };
    struct TCase {
        const char* What;
        THow How;
        QString Typed;
        QString Caption;     // shown whole
        std::string Name;    // kept in the memory, in the ANSI code page
    };
    const QString Long = QString(40, QLatin1Char('a')) + QString(260, QLatin1Char('b'));
    const TCase Cases[] = {
        {"Enter", THow::Enter, "Bass sweep", "Bass sweep", "Bass sweep"},
        {"Tab", THow::Tab, "Left ch.", "Left ch.", "Left ch."},
        {"click elsewhere", THow::Click, "Pink 2", "Pink 2", "Pink 2"},
        {"empty", THow::Enter, "", "", ""},
        {"over 255 characters", THow::Enter, Long, Long, std::string(40, 'a') + std::string(215, 'b')},
        {"outside the code page", THow::Tab, QString::fromUtf8("Grüße € Ω 😀"), QString::fromUtf8("Grüße € Ω 😀"),
         "Gr\xFC\xDF" "e \x80 ? ?"},
    };
    Start();
    const std::vector<uint8_t> Bank(reinterpret_cast<const uint8_t*>(Mem(1).Bank.data()),
                                    reinterpret_cast<const uint8_t*>(Mem(1).Bank.data()) + sizeof Mem(1).Bank);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.What);
        Rename(1);
        QLineEdit* E = MemEdit(1);
        EXPECT_EQ(MemButton(1)->text(), "") << "the caption goes at once";
        EXPECT_EQ(E->text(), "") << "the old name is not offered";
        EXPECT_TRUE(E->isVisible());
        EXPECT_TRUE(E->isEnabled());
        EXPECT_TRUE(E->hasFocus());
        EXPECT_FALSE(W<QPushButton>("btnON")->isDefault());

        E->insert(C.Typed);
        switch (C.How) {
        case THow::Enter: QTest::keyClick(E, Qt::Key_Return); break;
        case THow::Tab: QTest::keyClick(E, Qt::Key_Tab); break;
        case THow::Click: QTest::mouseClick(W<QPushButton>("btnPause"), Qt::LeftButton); break;
        }
        EXPECT_EQ(MemButton(1)->text(), C.Caption);
        EXPECT_EQ(Mem(1).Name(), C.Name);
        EXPECT_FALSE(E->isVisible());
        EXPECT_FALSE(E->isEnabled());
        EXPECT_TRUE(W<QPushButton>("btnON")->isDefault());
        EXPECT_FALSE(G().AudioOut1->Active) << "the Enter that commits does not press ON";
    }
    EXPECT_EQ(std::memcmp(Mem(1).Bank.data(), Bank.data(), Bank.size()), 0) << "a rename never touches the bank";
    EXPECT_EQ(Mem(1).Count, 3);
    EXPECT_EQ(Driver->Playbacks().size(), 0u);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TMemories, EscKeepsTheFieldOpenAndAnotherRenameCommitsItFirst) {
    Start();
    Rename(1);
    MemEdit(1)->insert("First");
    QTest::keyClick(MemEdit(1), Qt::Key_Escape);
    EXPECT_TRUE(MemEdit(1)->isVisible());
    EXPECT_EQ(Mem(1).Name(), "Memory 1");

    Rename(2);
    EXPECT_EQ(MemButton(1)->text(), "First");
    EXPECT_EQ(Mem(1).Name(), "First");
    EXPECT_FALSE(MemEdit(1)->isVisible());
    EXPECT_TRUE(MemEdit(2)->hasFocus());
    EXPECT_EQ(MemButton(2)->text(), "");
    EXPECT_FALSE(W<QPushButton>("btnON")->isDefault());
    QTest::keyClicks(MemEdit(2), "Second");
    QTest::keyClick(MemEdit(2), Qt::Key_Enter);
    EXPECT_EQ(Mem(2).Name(), "Second");
    EXPECT_EQ(MemButton(2)->text(), "Second");
}

TEST_F(TMemories, TheButtonsPopUpMenuOpensTheRenameField) {
    Start();
    QMenu* Menu = G().PopupMenus[2];
    ASSERT_EQ(MenuCaptions(Menu), QStringList({"Store", "Rename"}));
    emit MemButton(3)->customContextMenuRequested(QPoint(5, 5));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Menu));
    Menu->setActiveAction(Menu->actions().at(1));
    QTest::keyClick(Menu, Qt::Key_Return);
    QTest::qWait(0);
    EXPECT_FALSE(Menu->isVisible());
    EXPECT_TRUE(MemEdit(3)->isVisible());
    EXPECT_TRUE(MemEdit(3)->hasFocus());
    QTest::keyClicks(MemEdit(3), "Sweep");
    QTest::keyClick(MemEdit(3), Qt::Key_Tab);
    EXPECT_EQ(MemButton(3)->text(), "Sweep");
    EXPECT_EQ(Mem(3).Name(), "Sweep");
}

// A rename field lies on its button and is drawn in the button-face colour,
// in every state of the window, and keeps to it when the palette changes.
TEST_F(TMemories, RenameFieldsAreDrawnInTheButtonFaceColour) {
    Start();
    auto ExpectFaceColours = [&](int No) {
        const QPalette Field = MemEdit(No)->palette();
        const QPalette Face = MemButton(No)->palette();
        for (const auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            EXPECT_EQ(Field.color(Group, QPalette::Base), Face.color(Group, QPalette::Button)) << Group;
            EXPECT_EQ(Field.color(Group, QPalette::Text), Face.color(Group, QPalette::ButtonText)) << Group;
        }
    };
    for (int No = 1; No <= 4; ++No) {
        SCOPED_TRACE(No);
        ExpectFaceColours(No);
        Rename(No);
        QLineEdit* E = MemEdit(No);
        QPushButton* B = MemButton(No);
        const QImage Shot = B->parentWidget()->grab().toImage();
        // the field's empty end and the face to the left of the field
        const QColor InField = Shot.pixelColor(E->geometry().right() - 2, E->geometry().center().y());
        const QColor OnFace = Shot.pixelColor(B->geometry().left() + 4, B->geometry().center().y());
        EXPECT_EQ(InField, OnFace);
        EXPECT_EQ(InField, B->palette().color(QPalette::Button));
        QTest::keyClick(E, Qt::Key_Return);
    }

    const QPalette Saved = QApplication::palette();
    QPalette Dark = Saved;
    Dark.setColor(QPalette::Button, QColor(64, 64, 72));
    Dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    QApplication::setPalette(Dark);
    QCoreApplication::processEvents();  // the change reaches the widgets as events
    const QColor AfterChange = MemEdit(2)->palette().color(QPalette::Base);
    ExpectFaceColours(2);
    QApplication::setPalette(Saved);
    QCoreApplication::processEvents();
    EXPECT_EQ(AfterChange, QColor(64, 64, 72));
    ExpectFaceColours(2);
}

TEST(TAnsiText, Windows1252BothWays) {
    // every byte decodes and encodes back to itself
    std::string All;
    for (int B = 0; B < 256; ++B)
        All += static_cast<char>(B);
    EXPECT_EQ(AnsiFromText(TextFromAnsi(All)), All);
    EXPECT_EQ(TextFromAnsi("\x80\x8A\x9F\xE9"), QString::fromUtf8("€ŠŸé"));
    EXPECT_EQ(AnsiFromText(QString::fromUtf8("Ωж€\U0001F600")), "??\x80?");
}

} // namespace
} // namespace zelvo::test
