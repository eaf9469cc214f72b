// Adding, removing and showing oscillator tabs; the waveform list and its pictures.
#include <QImage>
#include <QPainter>

#include "app_fixture.h"
#include "synth/osc_record.h"

namespace zelvo::test {
namespace {

class TTabs : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        StartApp();
        ShowWindow();
    }
    void Add(int Times) {
        for (int I = 0; I < Times; ++I)
            QTest::mouseClick(W<QPushButton>("AddOscButton"), Qt::LeftButton);
    }
    QAction* ItemFor(QMenu* Menu, int Osc) {
        for (QAction* A : Menu->actions())
            if (A->text() == QStringLiteral("Osc %1").arg(Osc))
                return A;
        ADD_FAILURE() << "no item for oscillator " << Osc;
        return nullptr;
    }
    static QStringList OscItems(int From, int To) {
        QStringList L;
        for (int N = From; N <= To; ++N)
            L << QStringLiteral("Osc %1").arg(N);
        return L;
    }
    // A record that a tab load shows and stores back unchanged.
    static TOscRecord Marked(float Marker) {
        TOscRecord R = DefaultOscRecord();
        R.Summand = Marker;
        R.FreqInit = 100 + Marker;
        return R;
    }
    static bool Same(const TOscRecord& A, const TOscRecord& B) { return std::memcmp(&A, &B, sizeof A) == 0; }
};

TEST_F(TTabs, AddsUpTo25AndThenNothing) {
    Add(22);
    EXPECT_EQ(App->Synth.OscCount, 25);
    EXPECT_EQ(App->Synth.LastOsc, 24);
    EXPECT_EQ(Tabs()->count(), 25);
    EXPECT_EQ(Tabs()->tabText(24), "Osc 25");
    EXPECT_EQ(Tabs()->currentIndex(), 24);
    EXPECT_EQ(MenuCaptions(RemoveSubmenu()), OscItems(2, 25));
    EXPECT_EQ(MenuCaptions(PopRemove()), OscItems(2, 25));
    // the new record became live as it was: the defaults
    EXPECT_TRUE(Same(Rec(24), DefaultOscRecord()));

    const auto Before = BankBytes();
    Add(1);
    W<QAction>("AddOscillator1")->trigger();
    EXPECT_EQ(Tabs()->count(), 25);
    EXPECT_EQ(App->Synth.OscCount, 25);
    EXPECT_EQ(MenuCaptions(PopRemove()).size(), 24);
    EXPECT_EQ(BankBytes(), Before);
    EXPECT_TRUE(Boxes.empty());
}

// Both remove menus carry the same items and do the same.
class TRemoveFromThree : public TTabs, public ::testing::WithParamInterface<bool> {};

TEST_P(TRemoveFromThree, Osc2MovesTheThirdOscillatorDown) {
    Rec(2) = Marked(3);
    const TOscRecord Fourth = Rec(3);
    QAction* Item = ItemFor(GetParam() ? RemoveSubmenu() : PopRemove(), 2);
    ASSERT_TRUE(Item);
    Item->trigger();

    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1", "Osc 2"}));
    EXPECT_EQ(Tabs()->currentIndex(), 1);
    EXPECT_EQ(App->Synth.OscCount, 2);
    EXPECT_EQ(App->Synth.LastOsc, 1);
    EXPECT_TRUE(Same(Rec(1), Marked(3)));
    EXPECT_EQ(Edit("fSummand")->text(), "3");
    EXPECT_EQ(MenuCaptions(RemoveSubmenu()), QStringList({"Osc 2"}));
    EXPECT_EQ(MenuCaptions(PopRemove()), QStringList({"Osc 2"}));

    Add(1);  // the third oscillator comes back with what the fourth record held
    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1", "Osc 2", "Osc 3"}));
    EXPECT_TRUE(Same(Rec(2), Fourth));
}

INSTANTIATE_TEST_SUITE_P(BothMenus, TRemoveFromThree, ::testing::Bool());

TEST_F(TTabs, RemovingWith25MovesEveryLaterRecordDown) {
    Add(22);
    for (int J = 0; J < 26; ++J)
        Rec(J) = Marked(static_cast<float>(J));
    ItemFor(RemoveSubmenu(), 5)->trigger();

    EXPECT_EQ(App->Synth.OscCount, 24);
    EXPECT_EQ(Tabs()->count(), 24);
    EXPECT_EQ(Tabs()->currentIndex(), 23);
    for (int J = 0; J < 4; ++J)
        EXPECT_TRUE(Same(Rec(J), Marked(static_cast<float>(J)))) << J;
    for (int J = 4; J < 25; ++J)
        EXPECT_TRUE(Same(Rec(J), Marked(static_cast<float>(J + 1)))) << J;
    EXPECT_TRUE(Same(Rec(25), Marked(25)));
    EXPECT_EQ(MenuCaptions(PopRemove()), OscItems(2, 24));

    Add(1);  // the record the removal moved into place 24 becomes live
    EXPECT_TRUE(Same(Rec(24), Marked(25)));
}

TEST_F(TTabs, TheSpareRecordOfZerosCanBeShown) {
    Add(22);
    ItemFor(PopRemove(), 2)->trigger();  // record 24 gets the zeros of record 25
    EXPECT_TRUE(Boxes.empty());
    Add(1);
    EXPECT_EQ(Tabs()->currentIndex(), 24);
    EXPECT_EQ(Edit("fInit")->text(), "0");
    EXPECT_EQ(Edit("txtAInit")->text(), "-100");  // a gain of 0 has no decibel value
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TTabs, CloseThisTabRemovesTheLastButNeverTheFirst) {
    ClickTab(1);
    G().Closethistab1->trigger();
    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1", "Osc 2"}));
    G().Closethistab1->trigger();
    EXPECT_EQ(TabCaptions(), QStringList({"Oscillator 1"}));
    EXPECT_TRUE(RemoveSubmenu()->actions().isEmpty());
    EXPECT_TRUE(PopRemove()->actions().isEmpty());
    const auto Before = BankBytes();
    G().Closethistab1->trigger();
    EXPECT_EQ(App->Synth.OscCount, 1);
    EXPECT_EQ(Tabs()->count(), 1);
    EXPECT_EQ(BankBytes(), Before);
}

TEST_F(TTabs, NoiseHidesTheFrequencyControlsAndTheTabShowsItsPicture) {
    const QStringList Frequency = {"Panel1", "Panel2", "RadioIndependent", "fInit", "fFinal", "UpDown7"};
    ClickTab(1);
    auto* Wave = W<QComboBox>("WaveForm");
    Wave->setFocus();
    for (int I = 0; I < 3; ++I)
        QTest::keyClick(Wave, Qt::Key_Down);  // "White Noise"
    EXPECT_EQ(+Rec(1).WaveKind, wkWhiteNoise);
    for (const QString& Name : Frequency)
        EXPECT_FALSE(W<QWidget>(Name.toLatin1())->isVisible()) << Name.toStdString();
    EXPECT_FALSE(W<QWidget>("fSummand")->isVisible());
    EXPECT_TRUE(W<QWidget>("GroupBox7")->isVisible());
    EXPECT_EQ(Tabs()->tabIcon(1).pixmap(16, 16).toImage(), G().WaveBitmaps[3].toImage());

    ClickTab(0);
    EXPECT_TRUE(W<QWidget>("fInit")->isVisible());
    EXPECT_FALSE(W<QWidget>("fSummand")->isVisible());
    ClickTab(1);  // a noise oscillator's tab hides them again; its frequencies stay
    EXPECT_FALSE(W<QWidget>("fInit")->isVisible());
    EXPECT_EQ(+Rec(1).FreqInit, 1000.0f);

    Wave->setFocus();
    QTest::keyClick(Wave, Qt::Key_Home);  // back to "Sine"
    EXPECT_EQ(+Rec(1).WaveKind, wkSine);
    for (const QString& Name : Frequency)
        EXPECT_TRUE(W<QWidget>(Name.toLatin1())->isVisible()) << Name.toStdString();
    EXPECT_TRUE(W<QWidget>("fSummand")->isVisible());  // not the first tab
    EXPECT_EQ(Tabs()->tabIcon(1).pixmap(16, 16).toImage(), G().WaveBitmaps[0].toImage());
}

TEST_F(TTabs, ShowingTabsLeavesRecordsThatTheProgramProduced) {
    ClickTab(1);
    TypeInto(Edit("fSummand"), "0.1");
    TypeInto(Edit("fInit"), "1000.7");
    TypeInto(Edit("txtAInit"), "-6");
    TypeInto(Edit("PhaseEdit"), "33.3");
    LeaveField();
    ClickTab(2);
    TypeInto(Edit("fFactor"), "2.5");
    LeaveField();
    const auto Before = BankBytes();
    for (int T : {0, 1, 2, 1, 0, 2})
        ClickTab(T);
    EXPECT_EQ(BankBytes(), Before);
}

TEST_F(TTabs, ValuesFromElsewhereSurviveAShowing) {
    // only a preset file written by another program brings such values
    Rec(1).GainFinal = 0.5f;
    Rec(1).WaveKind = 9;
    ClickTab(1);
    ClickTab(0);
    ClickTab(1);
    EXPECT_EQ(Edit("aFinal")->text(), "0.5");
    EXPECT_EQ(+Rec(1).GainFinal, 0.5f);
    EXPECT_EQ(+Rec(1).WaveKind, 9);
    EXPECT_EQ(W<QComboBox>("WaveForm")->currentIndex(), -1);
    EXPECT_TRUE(W<QWidget>("fInit")->isVisible());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TTabs, AnOpenEntryStaysWithTheTabWhereItWasTyped) {
    ClickTab(1);
    TypeInto(Edit("fInit"), "500");
    ClickTab(2);  // the field still has the focus when the tab is clicked
    EXPECT_EQ(+Rec(1).FreqInit, 500.0f);
    EXPECT_EQ(+Rec(2).FreqInit, 1000.0f);
    EXPECT_EQ(Edit("fInit")->text(), "1000");

    TypeInto(Edit("txtAInit"), "-3.5");
    W<QAction>("AddOscillator1")->trigger();  // F2 while the amplitude is being typed
    EXPECT_EQ(Edit("txtAInit")->text(), "0");
    EXPECT_EQ(+Rec(3).GainInit, 1.0f);
    EXPECT_EQ(+Rec(2).GainInit, StoreF32(std::pow(10.0L, -4.0L / 20.0L)));
}

TEST_F(TTabs, RemoveMenuOpensAtTheButtonMiddlePlusTheFrameBorders) {
    auto* B = W<QPushButton>("btnRemoveOsc");
    const QRect Frame = G().frameGeometry();
    const QRect Inner = G().geometry();
    const int RightBorder = Frame.right() - Inner.right();
    const int BottomBorder = Frame.bottom() - Inner.bottom();
    EXPECT_EQ(G().RemovePopupPoint(),
              B->mapToGlobal(QPoint(B->width() / 2, B->height() / 2)) + QPoint(RightBorder, BottomBorder));
    QTest::mouseClick(B, Qt::LeftButton);
    EXPECT_TRUE(PopRemove()->isVisible());
    PopRemove()->close();
}

TEST_F(TTabs, WaveformItemsDrawPictureAndTextAtTheirOffsets) {
    auto* Wave = W<QComboBox>("WaveForm");
    const QColor Base = Wave->palette().color(QPalette::Base);
    const QColor Highlight = Wave->palette().color(QPalette::Highlight);
    for (bool Selected : {false, true}) {
        QImage Img(120, 18, QImage::Format_RGB32);
        Img.fill(Qt::magenta);
        {
            QPainter P(&Img);
            G().WaveFormDrawItem(P, 0, QRect(0, 0, 120, 18), Selected);
        }
        const QColor Brush = Selected ? Highlight : Base;
        const QImage Sine = G().WaveBitmaps[0].toImage().convertToFormat(QImage::Format_RGB32);
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X)
                ASSERT_EQ(Img.pixel(X + 2, Y + 2), Sine.pixel(X, Y)) << X << "," << Y;
        EXPECT_EQ(QColor(Img.pixel(1, 1)), Brush);
        EXPECT_EQ(QColor(Img.pixel(0, 17)), Brush);
        // the text starts 24 pixels in: nothing but the brush between picture and text
        int FirstInk = -1;
        for (int X = 18; X < 120 && FirstInk < 0; ++X)
            for (int Y = 0; Y < 18; ++Y)
                if (QColor(Img.pixel(X, Y)) != Brush) {
                    FirstInk = X;
                    break;
                }
        EXPECT_GE(FirstInk, 24);
        EXPECT_LE(FirstInk, 27);
    }

    // pure red in a picture shows the brush
    QPixmap Red(16, 16);
    Red.fill(Qt::red);
    Wave->setItemData(4, QVariant::fromValue(Red), Qt::UserRole);
    QImage Img(120, 18, QImage::Format_RGB32);
    {
        QPainter P(&Img);
        G().WaveFormDrawItem(P, 4, QRect(0, 0, 120, 18), false);
    }
    EXPECT_EQ(QColor(Img.pixel(8, 8)), Base);
}

TEST(TWaveBitmaps, AreSmallScopeScreensWithoutPureRed) {
    struct TCase {
        const char* Name;
        QColor Trace;
    } Cases[] = {{"SINE", QColor(0, 255, 0)},
                 {"SQUARE", QColor(0, 255, 0)},
                 {"TRIANGULAR", QColor(0, 255, 0)},
                 {"WHITE", QColor(255, 255, 255)},
                 {"PINK", QColor(224, 128, 128)}};
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        QImage Img(QStringLiteral(":/bitmaps/") + C.Name, "BMP");
        ASSERT_FALSE(Img.isNull());
        EXPECT_EQ(Img.size(), QSize(16, 16));
        EXPECT_EQ(Img.format(), QImage::Format_Indexed8);
        EXPECT_EQ(Img.colorCount(), 256);
        int Axis = 0, Trace = 0;
        for (int Y = 0; Y < 16; ++Y)
            for (int X = 0; X < 16; ++X) {
                const QColor P = Img.pixelColor(X, Y);
                EXPECT_NE(P, QColor(Qt::red));
                Axis += P == QColor(0, 96, 64);
                Trace += P == C.Trace;
                if (X != 7 && Y != 8 && P != C.Trace) {
                    EXPECT_EQ(P, QColor(Qt::black));
                }
            }
        EXPECT_GT(Axis, 20);  // column 8 and row 9, less where the trace crosses
        EXPECT_GE(Trace, 12);
        EXPECT_EQ(Img.pixelColor(7, 0), QColor(0, 96, 64));
        EXPECT_EQ(Img.pixelColor(0, 15), QColor(Qt::black));
    }
}

} // namespace
} // namespace zelvo::test
