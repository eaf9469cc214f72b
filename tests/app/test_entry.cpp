// Entering values into the fields of the oscillator shown.
#include <QSignalSpy>
#include <cmath>

#include "app_fixture.h"

namespace zelvo::test {
namespace {

float Gain(long double Db) { return StoreF32(std::pow(10.0L, Db / 20.0L)); }

class TEntry : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        StartApp();
        ShowWindow();
    }
};

TEST_F(TEntry, EmptyingTheStartFrequencyReportsAtOnceAndAgainOnLeaving) {
    TypeInto(Edit("fInit"), "1234");
    EXPECT_EQ(+Rec(0).FreqInit, 1234.0f);
    EXPECT_TRUE(Boxes.empty());
    TypeInto(Edit("fInit"), "");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Caption, "Zelvo 1.0");
    EXPECT_EQ(Boxes[0].Text, "'' is not a valid floating point value.");
    EXPECT_EQ(+Rec(0).FreqInit, 1234.0f);
    LeaveField();
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "'' is not a valid floating point value.");
    EXPECT_EQ(+Rec(0).FreqInit, 1234.0f);
}

TEST_F(TEntry, TooLargeAFrequencyReportsTheOverflow) {
    TypeInto(Edit("fFinal"), "1e39");
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.back().Text, "Floating point overflow.");
    EXPECT_EQ(+Rec(0).FreqFinal, 1000.0f);  // "1e3", the last text that fitted
}

TEST_F(TEntry, EmptyingTheSummandIsSilentAndTheNextLoadShowsTheLastNumber) {
    ClickTab(1);
    TypeInto(Edit("fSummand"), "7");
    TypeInto(Edit("fSummand"), "");
    LeaveField();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(+Rec(1).Summand, 7.0f);
    ClickTab(0);
    ClickTab(1);
    EXPECT_EQ(Edit("fSummand")->text(), "7");
}

TEST_F(TEntry, IgnoredFieldsKeepTheirValueForTextThatIsNoNumber) {
    ClickTab(1);
    struct TCase {
        const char* Field;
        float (*Value)(const TOscRecord&);
    } Cases[] = {{"fSummand", [](const TOscRecord& R) -> float { return R.Summand; }},
                 {"fFactor", [](const TOscRecord& R) -> float { return R.Factor; }},
                 {"PhaseEdit", [](const TOscRecord& R) -> float { return R.PhaseDeg; }}};
    for (const TCase& C : Cases) {
        TypeInto(Edit(C.Field), "12");
        TypeInto(Edit(C.Field), "12x");
        LeaveField();
        EXPECT_EQ(C.Value(Rec(1)), 12.0f) << C.Field;
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TEntry, BothSeparatorsAreRead) {
    ClickTab(1);
    for (const char* Text : {"1,5", "1.5"}) {
        TypeInto(Edit("fSummand"), "0");
        TypeInto(Edit("fSummand"), Text);
        EXPECT_EQ(+Rec(1).Summand, 1.5f) << Text;
    }
}

TEST_F(TEntry, ShownNumbersReadBackToTheSameValue) {
    ClickTab(1);
    TypeInto(Edit("fSummand"), "0.1");
    TypeInto(Edit("fInit"), "1000.7");
    TypeInto(Edit("txtAInit"), "-6");
    EXPECT_EQ(+Rec(1).GainInit, Gain(-6));
    EXPECT_NEAR(Rec(1).GainInit, 0.501187, 1e-6);
    LeaveField();
    ClickTab(0);
    ClickTab(1);
    EXPECT_EQ(Edit("fSummand")->text(), "0.100000001490116");
    EXPECT_EQ(Edit("fInit")->text(), "1000.70001220703");
    EXPECT_EQ(Edit("txtAInit")->text(), "-6");
    EXPECT_EQ(+Rec(1).Summand, 0.1f);
    EXPECT_EQ(+Rec(1).FreqInit, 1000.7f);
    EXPECT_EQ(+Rec(1).GainInit, Gain(-6));
}

TEST_F(TEntry, AmplitudeIsStoredAsTypedAndTidiedOnLeaving) {
    struct TCase {
        const char* Typed;
        float WhileTyping;  // NaN: nothing stored, the gain before stands
        const char* Shown;
        float Left;
    } Cases[] = {
        {"-6", Gain(-6), "-6", Gain(-6)},
        {"5", Gain(5), "0", 1.0f},
        {"-3.5", Gain(-3.5), "-4", Gain(-4)},
        {"abc", NAN, "0", 1.0f},
        {"-150", Gain(-150), "-100", Gain(-100)},
        {"-", NAN, "0", 1.0f},
        {"-0.4", Gain(-0.4), "0", 1.0f},
    };
    auto* A = Edit("txtAInit");
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Typed);
        TypeInto(A, "-20");
        const float Before = Rec(0).GainInit;
        TypeInto(A, C.Typed);
        EXPECT_EQ(+Rec(0).GainInit, std::isnan(C.WhileTyping) ? Before : C.WhileTyping);
        LeaveField();
        EXPECT_EQ(A->text(), C.Shown);
        EXPECT_EQ(+Rec(0).GainInit, C.Left);
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TEntry, SpinnersStepByOneWithinTheirRange) {
    auto* Down5 = W<TUpDown>("UpDown5");
    auto ClickDown = [](TUpDown* U) { QTest::mouseClick(U, Qt::LeftButton, {}, QPoint(8, U->height() - 4)); };
    auto ClickUp = [](TUpDown* U) { QTest::mouseClick(U, Qt::LeftButton, {}, QPoint(8, 4)); };

    ClickDown(Down5);
    EXPECT_EQ(Edit("txtAInit")->text(), "-1");
    EXPECT_EQ(+Rec(0).GainInit, Gain(-1));
    ClickUp(Down5);
    ClickUp(Down5);  // 0 is the top
    EXPECT_EQ(Edit("txtAInit")->text(), "0");
    TypeInto(Edit("txtAInit"), "-100");
    ClickDown(Down5);
    EXPECT_EQ(Edit("txtAInit")->text(), "-100");

    auto* Up7 = W<TUpDown>("UpDown7");
    ClickUp(Up7);
    EXPECT_EQ(Edit("fInit")->text(), "1001");
    EXPECT_EQ(+Rec(0).FreqInit, 1001.0f);
    QTest::keyClick(Edit("fInit"), Qt::Key_Down);
    QTest::keyClick(Edit("fInit"), Qt::Key_Down);
    EXPECT_EQ(+Rec(0).FreqInit, 999.0f);
    TypeInto(Edit("fInit"), "22050");
    ClickUp(Up7);
    EXPECT_EQ(Edit("fInit")->text(), "22050");
    TypeInto(Edit("fInit"), "10");
    ClickDown(Up7);
    EXPECT_EQ(Edit("fInit")->text(), "10");
    // the spinner limits only its own steps
    TypeInto(Edit("fInit"), "30000");
    EXPECT_EQ(+Rec(0).FreqInit, 30000.0f);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TEntry, ModeIsStoredByMouseAndByEnteringTheRelationFields) {
    ClickTab(1);
    auto* Add = W<QRadioButton>("RadioAdd");
    auto* Independent = W<QRadioButton>("RadioIndependent");
    auto Mode = [this] { return std::vector<int>{Rec(1).ModeIndependent, Rec(1).ModeAdd, Rec(1).ModeMultiply}; };

    QTest::mouseClick(Add, Qt::LeftButton, {}, QPoint(6, Add->height() / 2));
    EXPECT_EQ(Mode(), (std::vector<int>{0, 1, 0}));

    // Tab from the summand into the factor field
    Edit("fSummand")->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(Edit("fSummand"), Qt::Key_Tab);
    ASSERT_TRUE(Edit("fFactor")->hasFocus());
    EXPECT_TRUE(W<QRadioButton>("RadioMultiply")->isChecked());
    EXPECT_EQ(Mode(), (std::vector<int>{0, 0, 1}));

    // the keyboard alone checks a button on the screen but stores nothing
    W<QRadioButton>("RadioMultiply")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(W<QRadioButton>("RadioMultiply"), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_TRUE(Independent->isChecked());
    EXPECT_EQ(Mode(), (std::vector<int>{0, 0, 1}));

    QTest::mouseClick(Independent, Qt::LeftButton, {}, QPoint(6, Independent->height() / 2));
    EXPECT_EQ(Mode(), (std::vector<int>{1, 0, 0}));

    // a load shows the record's mode again
    ClickTab(2);
    ClickTab(1);
    EXPECT_TRUE(Independent->isChecked());
}

TEST_F(TEntry, CheckBoxesStoreEveryChangeOfState) {
    auto* Log = W<QCheckBox>("Logarithmic");
    Log->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Log, Qt::Key_Space);
    EXPECT_EQ(+Rec(0).LogSweep, 1);
    QTest::mouseClick(W<QCheckBox>("RightTick"), Qt::LeftButton, {}, QPoint(6, 7));
    EXPECT_EQ(+Rec(0).RightOn, 0);
    W<QCheckBox>("Bidirectional")->setChecked(true);  // from code as well
    EXPECT_EQ(+Rec(0).BiDir, 1);
}

TEST_F(TEntry, GivingAFieldTheTextItShowsRunsNothing) {
    Rec(0).FreqInit = 5.0f;
    Edit("fInit")->setText("1000");
    EXPECT_EQ(+Rec(0).FreqInit, 5.0f);
    Edit("fInit")->setText("1001");
    EXPECT_EQ(+Rec(0).FreqInit, 1001.0f);
}

TEST_F(TEntry, EnterPressesOnUnlessAnotherButtonHasTheFocus) {
    QSignalSpy On(W<QPushButton>("btnON"), &QPushButton::clicked);
    QSignalSpy Off(W<QPushButton>("btnOFF"), &QPushButton::clicked);
    Edit("fInit")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Edit("fInit"), Qt::Key_Return);
    EXPECT_EQ(On.count(), 1);
    W<QPushButton>("btnOFF")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(W<QPushButton>("btnOFF"), Qt::Key_Return);
    EXPECT_EQ(Off.count(), 1);
    EXPECT_EQ(On.count(), 1);
}

TEST_F(TEntry, TabOrderFollowsTheLayout) {
    ClickTab(1);
    QStringList Order;
    QWidget* First = Edit("Duration");
    QWidget* Cur = First;
    do {
        const bool Reachable = (Cur->focusPolicy() & Qt::TabFocus) && Cur->isVisible() && Cur->isEnabled();
        if (Reachable && !Cur->objectName().isEmpty())
            Order << Cur->objectName();
        Cur = Cur->nextInFocusChain();
    } while (Cur != First && Order.size() < 60);
    const QStringList Expected = {"Duration", "Loop", "WaveDevice", "AddOscButton", "TabControl1Tabs",
                                  "RadioIndependent", "RadioAdd", "RadioMultiply", "txtAInit", "LeftTick",
                                  "RightTick", "PhaseEdit", "WaveForm", "fSummand", "fFactor", "fInit",
                                  "Logarithmic", "Bidirectional", "fFinal", "btnON", "btnPause", "btnOFF",
                                  "Mem1", "Mem2", "Memory3", "Memory4", "btnRemoveOsc"};
    EXPECT_EQ(Order, Expected);
}

class TCommaLocale : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        StartApp();
        ShowWindow();
    }
};

TEST_F(TCommaLocale, NumbersAreWrittenWithTheCommaAndReadWithEither) {
    EXPECT_TRUE(Boxes.empty());  // the layout's texts give the defaults here too
    ClickTab(1);
    TypeInto(Edit("fSummand"), "0,1");
    EXPECT_EQ(+Rec(1).Summand, 0.1f);
    TypeInto(Edit("fFactor"), "2.5");
    EXPECT_EQ(+Rec(1).Factor, 2.5f);
    TypeInto(Edit("txtAInit"), "-3,5");
    LeaveField();
    EXPECT_EQ(Edit("txtAInit")->text(), "-4");
    ClickTab(0);
    ClickTab(1);
    EXPECT_EQ(Edit("fSummand")->text(), "0,100000001490116");
    EXPECT_EQ(Edit("fFactor")->text(), "2,5");
    TypeInto(Edit("fInit"), "1.2.3");
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.back().Text, "'1,2,3' is not a valid floating point value.");
}

} // namespace
} // namespace zelvo::test
