// ON, OFF, Pause and F5 on the simulated device: what the device plays must be
// exactly the synthesis, and the controls must follow the output's state.
#include <QCoreApplication>
#include <functional>

#include "app/tfrmsettings.h"
#include "app_fixture.h"
#include "synth/buffer_filler.h"
#include "tests/support/expected_signal.h"

namespace zelvo::test {
namespace {

constexpr int64_t kFramesPerBuffer = 16384 / 4;  // the default ring: 4 buffers of 16384 bytes

class TPlayback : public TAppFixture {
protected:
    void Start() {
        StartApp();
        ShowWindow();
    }

    // Lets the event loop deliver every notice the device has posted, and
    // those that handling them posts in turn.
    void Pump() {
        for (;;) {
            const uint64_t Before = Driver->NoticesPosted();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            if (Driver->NoticesPosted() == Before)
                return;
        }
    }
    void Play(uint64_t Frames) {
        for (uint64_t Done = 0; Done < Frames; Done += 1000) {
            Driver->AdvanceFrames(std::min<uint64_t>(1000, Frames - Done));
            Pump();
        }
    }

    // The synthesis as the next ON prepares it.
    TSynth Prepared() {
        TSynth S = App->Synth;
        S.PrepareSweep(Edit("Duration")->text().toStdString(), '.');
        return S;
    }

    QPushButton* Button(const char* Name) { return W<QPushButton>(Name); }
    void Click(const char* Name) {
        QTest::mouseClick(Button(Name), Qt::LeftButton);
        Pump();
    }
    bool HasFocus(const char* Name) { return QApplication::focusWidget() == W<QWidget>(Name); }
    QColor Led() { return W<TShape>("LED")->BrushColor(); }
    bool PauseBold() { return Button("btnPause")->font().bold(); }
    std::vector<uint8_t> Heard() { return Driver->Last().Played; }
    TAudioOut& Out() { return *G().AudioOut1; }

    static inline const QColor Maroon{128, 0, 0};
    static inline const QColor Green{0, 128, 0};
};

TEST_F(TPlayback, OnPlaysTheDefaultBankExactlyAndLocksOnlyTheTabs) {
    Start();
    const TSynth Ref = Prepared();
    EXPECT_EQ(Led(), Maroon);
    Click("btnON");

    EXPECT_TRUE(Out().Active);
    EXPECT_TRUE(HasFocus("btnOFF"));
    EXPECT_EQ(Led(), Green);
    EXPECT_EQ(W<TShape>("LED")->PenColor(), QColor(Qt::black));
    const auto& Format = Driver->Last().Format;
    EXPECT_EQ(Format.nChannels, 2);
    EXPECT_EQ(Format.nSamplesPerSec, 22050u);
    EXPECT_EQ(Format.wBitsPerSample, 16);
    EXPECT_EQ(Out().NumBuffers(), 4);
    EXPECT_EQ(Out().BufferSize(), 16384);

    // only the button "Add Oscillator" and the tab control with its controls are locked
    EXPECT_FALSE(W<QWidget>("AddOscButton")->isEnabled());
    EXPECT_FALSE(W<QWidget>("TabControl1")->isEnabled());
    EXPECT_FALSE(Edit("fInit")->isEnabled());
    for (const char* Name : {"btnON", "btnOFF", "btnPause", "btnRemoveOsc", "Mem1", "Mem2", "Memory3", "Memory4",
                             "Duration", "Loop", "WaveDevice"})
        EXPECT_TRUE(W<QWidget>(Name)->isEnabled()) << Name;
    for (QAction* A : G().menuBar()->actions())
        EXPECT_TRUE(A->isEnabled()) << A->text().toStdString();
    EXPECT_TRUE(W<QAction>("AddOscillator1")->isEnabled());
    EXPECT_TRUE(W<QAction>("OnOff1")->isEnabled());

    Play(22050 * 2 + 333);  // two period ends, several trips round the ring
    const auto Bytes = Heard();
    EXPECT_EQ(Bytes.size(), (22050u * 2 + 333) * 4);
    EXPECT_EQ(Bytes, Expected(Ref, static_cast<int64_t>(Bytes.size() / 4), true));

    Click("btnOFF");
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(Driver->OpenDevices(), 0u);
    EXPECT_EQ(Led(), Maroon);
    EXPECT_TRUE(W<QWidget>("AddOscButton")->isEnabled());
    EXPECT_TRUE(Edit("fInit")->isEnabled());
    EXPECT_TRUE(HasFocus("btnON"));
}

TEST_F(TPlayback, TheRingComesFromTheSettingsListsAtEverySwitchOn) {
    Start();
    QComboBox* const Buffers = W<QComboBox>("Buffers");
    QComboBox* const Sizes = W<QComboBox>("BufferSize");
    struct TCase {
        const char* Buffers;
        const char* Size;
    };
    // from two buffers to four: the number must be set before the size allocates them
    for (const TCase C : {TCase{"2", "4096"}, TCase{"4", "8192"}, TCase{"3", "16384"}}) {
        Buffers->setCurrentIndex(Buffers->findText(C.Buffers));
        Sizes->setCurrentIndex(Sizes->findText(C.Size));
        const TSynth Ref = Prepared();
        Click("btnON");
        ASSERT_TRUE(Out().Active) << C.Buffers << " " << Out().ErrorMessage;
        EXPECT_EQ(Out().NumBuffers(), QByteArray(C.Buffers).toInt());
        EXPECT_EQ(Out().BufferSize(), QByteArray(C.Size).toInt());
        EXPECT_EQ(Driver->Last().Written.size(), static_cast<size_t>(QByteArray(C.Buffers).toInt()));
        Play(10000);
        EXPECT_EQ(Heard(), Expected(Ref, 10000, true)) << C.Buffers;
        Click("btnOFF");
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, OnWhileActiveOnlyMovesTheFocus) {
    Start();
    const TSynth Ref = Prepared();
    Click("btnON");
    Play(5000);
    for (bool Paused : {false, true}) {
        if (Paused)
            Click("btnPause");
        Button("Mem1")->setFocus();
        Click("btnON");
        EXPECT_TRUE(HasFocus("btnOFF"));
        EXPECT_EQ(Driver->Playbacks().size(), 1u);
        EXPECT_EQ(Driver->Last().Paused, Paused);
        EXPECT_EQ(Led(), Green);
    }
    Click("btnPause");
    Play(12000);
    EXPECT_EQ(Heard(), Expected(Ref, 17000, true)) << "the signal went on unchanged";
}

TEST_F(TPlayback, F5SwitchesOnAndOff) {
    Start();
    for (int Round = 1; Round <= 2; ++Round) {
        QTest::keyClick(&G(), Qt::Key_F5);
        Pump();
        EXPECT_TRUE(Out().Active);
        EXPECT_EQ(Led(), Green);
        EXPECT_EQ(Driver->Playbacks().size(), static_cast<size_t>(Round));
        QTest::keyClick(&G(), Qt::Key_F5);
        Pump();
        EXPECT_FALSE(Out().Active);
        EXPECT_EQ(Led(), Maroon);
        EXPECT_TRUE(HasFocus("btnON"));
    }
}

// ON moves the focus to OFF and the stop brings it back to ON; each time it
// leaves ON, ON must stay the button that Enter presses elsewhere.
TEST_F(TPlayback, EnterSwitchesOnFromAFieldAndOffFromTheFocusedOff) {
    Start();
    const auto Enter = [this](Qt::Key Key = Qt::Key_Return, Qt::KeyboardModifiers Mods = {}) {
        QTest::keyClick(QApplication::focusWidget(), Key, Mods);
        Pump();
    };
    for (int Round = 1; Round <= 2; ++Round) {
        TypeInto(Edit("Duration"), "2");
        Enter();
        EXPECT_TRUE(Out().Active) << Round;
        EXPECT_TRUE(HasFocus("btnOFF")) << Round;
        Enter(Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_FALSE(Out().Active) << Round;
        EXPECT_TRUE(HasFocus("btnON")) << Round;
    }
    EXPECT_EQ(Driver->Playbacks().size(), 2u);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, PauseBeforeOnOpensThePlaybackPaused) {
    Start();
    const TSynth Ref = Prepared();
    Click("btnPause");
    EXPECT_TRUE(PauseBold());
    EXPECT_FALSE(Out().Active);
    Click("btnON");
    EXPECT_TRUE(Driver->Last().Paused);
    EXPECT_EQ(Led(), Green);
    Play(10000);
    EXPECT_TRUE(Heard().empty());

    Click("btnPause");
    EXPECT_FALSE(PauseBold());
    Play(10000);
    EXPECT_EQ(Heard(), Expected(Ref, 10000, true));
}

TEST_F(TPlayback, OffWhilePausedClearsThePauseAndTheNextOnPlaysAtOnce) {
    Start();
    Click("btnON");
    Click("btnPause");
    EXPECT_TRUE(PauseBold());
    Click("btnOFF");
    EXPECT_FALSE(PauseBold());
    EXPECT_FALSE(Out().Paused());
    EXPECT_EQ(Led(), Maroon);
    Click("btnON");
    EXPECT_FALSE(Driver->Last().Paused);
    Play(1000);
    EXPECT_EQ(Heard().size(), 4000u);
}

TEST_F(TPlayback, ASignalThatDoesNotLoopEndsByItself) {
    Start();
    W<QCheckBox>("Loop")->setChecked(false);
    Edit("Duration")->setText("0.5");
    const TSynth Ref = Prepared();
    Click("btnON");
    Play(22050 * 3);
    // the whole period of 11025 frames, then silence to the end of the ring
    const auto Bytes = Heard();
    EXPECT_EQ(Bytes.size(), 4u * 16384);
    EXPECT_EQ(Bytes, Expected(Ref, 4 * kFramesPerBuffer, false));
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(Driver->OpenDevices(), 0u);
    EXPECT_EQ(Led(), Maroon);
    EXPECT_TRUE(W<QWidget>("AddOscButton")->isEnabled());
    EXPECT_TRUE(W<QWidget>("TabControl1")->isEnabled());
    EXPECT_TRUE(HasFocus("btnON"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, FailedStartsSayWhyAndLeaveTheOutputStopped) {
    Start();
    struct TCase {
        const char* What;
        std::function<void()> Arrange;
        TBoxKind Kind;
        QString Text;
        bool FocusOnOff;  // the focus moves unless nothing was tried
    };
    const TCase Cases[] = {
        {"device open fails", [this] { Driver->FailOpen(wave::MMSYSERR_ALLOCATED); }, TBoxKind::Message,
         "Audio Out failed because: \rThe device is already in use.", true},
        {"device has its own text",
         [this] {
             Driver->SetErrorText(wave::MMSYSERR_NODRIVER, "Nobody home");
             Driver->FailOpen(wave::MMSYSERR_NODRIVER);
         },
         TBoxKind::Message, "Audio Out failed because: \rNobody home", true},
        {"duration is no number", [this] { Edit("Duration")->setText("abc"); }, TBoxKind::Error,
         "'abc' is not a valid floating point value.", false},
        {"no buffer count selected", [this] { W<QComboBox>("Buffers")->setCurrentIndex(-1); }, TBoxKind::Error,
         "'' is not a valid integer value.", false},
    };
    for (const TCase& C : Cases) {
        Boxes.clear();
        Button("Mem1")->setFocus();
        const size_t Opens = Driver->Playbacks().size();
        C.Arrange();
        Click("btnON");
        ASSERT_EQ(Boxes.size(), 1u) << C.What;
        EXPECT_EQ(Boxes[0].Kind, C.Kind) << C.What;
        EXPECT_EQ(Boxes[0].Text, C.Text) << C.What;
        EXPECT_EQ(HasFocus("btnOFF"), C.FocusOnOff) << C.What;
        EXPECT_FALSE(Out().Active) << C.What;
        EXPECT_EQ(Driver->OpenDevices(), 0u) << C.What;
        EXPECT_EQ(Led(), Maroon) << C.What;
        EXPECT_EQ(Driver->Playbacks().size(), Opens) << C.What;

        // put right, ON works again
        Driver->ClearFaults();
        Edit("Duration")->setText("1");
        W<QComboBox>("Buffers")->setCurrentIndex(2);
        Boxes.clear();
        Click("btnON");
        EXPECT_TRUE(Out().Active) << C.What;
        EXPECT_TRUE(Boxes.empty()) << C.What;
        Click("btnOFF");
    }
}

TEST_F(TPlayback, AfterAFillThatFailedTheNextOnGivesTheShortSignalMessage) {
    Start();
    // the first frame's mix does not fit any integer: the fill ends by an error
    Rec(0).GainInit = 1e35f;
    Click("btnON");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Invalid floating point operation.");
    EXPECT_TRUE(G().Filler->FillBusy);
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(Driver->OpenDevices(), 0u);

    Rec(0).GainInit = 1.0f;
    Boxes.clear();
    Click("btnON");
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, "There is an issue with performance. See help for details");
    EXPECT_EQ(Boxes[1].Kind, TBoxKind::Message);
    EXPECT_EQ(Boxes[1].Text, "For very short signals please decrease the buffer number and size in the "
                             "'Compatibility settings' in the 'Options' menu");
    EXPECT_FALSE(G().Filler->FillBusy);
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(Led(), Maroon);

    Boxes.clear();
    Click("btnON");
    EXPECT_TRUE(Out().Active) << "the next start works normally";
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, WithoutADeviceNothingStartsAndOffLeavesTheFocus) {
    StartApp({});
    ShowWindow();
    Boxes.clear();
    Button("Mem2")->setFocus();
    Button("btnOFF")->click();
    QTest::keyClick(&G(), Qt::Key_F5);
    Pump();
    EXPECT_TRUE(HasFocus("Mem2"));
    EXPECT_FALSE(Out().Active);
    EXPECT_TRUE(Driver->Playbacks().empty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, ClosingTheWindowWhilePlayingStopsTheOutputFirst) {
    Start();
    Click("btnON");
    Play(5000);
    ASSERT_EQ(Driver->OpenDevices(), 1u);
    G().close();
    // every buffer is back and the device closed before anything goes
    EXPECT_EQ(Driver->OpenDevices(), 0u);
    EXPECT_EQ(Driver->Last().Queued, 0u);
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(StoredInteger("WaveDevice"), 0);
    Pump();
    App.reset();
    EXPECT_TRUE(Boxes.empty());
}

// While the signal plays, the memories, the remove menus, F2 and the period
// group stay usable, and what they change is heard from the next buffer on.
TEST_F(TPlayback, ChangesWhilePlayingAreHeardFromTheNextBuffer) {
    Start();
    Rec(1).FreqInit = Rec(1).FreqFinal = 300;
    Rec(2).FreqInit = Rec(2).FreqFinal = 2000;
    // memory 2: one oscillator at 440 Hz, stored with running fields of its own
    {
        TMemorySlot& M = App->Memories[2];
        M.Bank = App->Synth.Oscillators;
        M.Bank[0].FreqInit = M.Bank[0].FreqFinal = 440;
        M.Bank[0].Omega = 2764.6f;
        M.Bank[0].SweepRatio = 1;
        M.Count = 1;
    }

    TSynth Ref = Prepared();
    std::vector<uint8_t> Want;
    int64_t Rendered = 0;
    // The reference renders every frame the window has filled so far: the
    // prefill and one buffer for each that has played.
    auto CatchUp = [&] {
        const int64_t Filled = (4 + static_cast<int64_t>(Heard().size()) / 16384) * kFramesPerBuffer;
        RenderExpected(Ref, Filled - Rendered, true, Want);
        Rendered = Filled;
        ASSERT_EQ(std::memcmp(Ref.Oscillators.data(), App->Synth.Oscillators.data(), sizeof Ref.Oscillators), 0);
        ASSERT_EQ(Ref.SampleIndex, App->Synth.SampleIndex);
    };
    auto TakeBank = [&] {
        Ref.Oscillators = App->Synth.Oscillators;
        Ref.OscCount = App->Synth.OscCount;
        Ref.LastOsc = App->Synth.LastOsc;
    };

    Click("btnON");
    Play(2 * kFramesPerBuffer);
    CatchUp();

    struct TStep {
        const char* What;
        std::function<void()> Act;
        int Count;  // oscillators mixed afterwards
    };
    const TStep Steps[] = {
        {"F2", [&] { QTest::keyClick(&G(), Qt::Key_F2); }, 4},
        {"remove Osc 2 from the pop-up menu", [&] { PopRemove()->actions().at(0)->trigger(); }, 3},
        {"remove from the Controls menu", [&] { RemoveSubmenu()->actions().last()->trigger(); }, 2},
        {"recall memory 2", [&] { QTest::mouseClick(Button("Mem2"), Qt::LeftButton); }, 1},
        {"store into memory 3 and recall memory 1",
         [&] {
             G().PopupMenus[2]->actions().at(0)->trigger();
             QTest::mouseClick(Button("Mem1"), Qt::LeftButton);
         },
         3},
    };
    for (const TStep& Step : Steps) {
        const std::vector<uint8_t> Before = Want;
        TSynth Unchanged = Ref;
        Step.Act();
        EXPECT_EQ(App->Synth.OscCount, Step.Count) << Step.What;
        EXPECT_EQ(TabCaptions().size(), Step.Count) << Step.What;
        TakeBank();
        Play(3 * kFramesPerBuffer);
        CatchUp();
        // what was filled before the change plays as it was; the next buffer already differs
        const auto Bytes = Heard();
        ASSERT_LE(Bytes.size(), Want.size());
        EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.end(), Want.begin())) << Step.What;
        std::vector<uint8_t> Old = Before;
        RenderExpected(Unchanged, kFramesPerBuffer, true, Old);
        EXPECT_FALSE(std::equal(Old.begin() + static_cast<ptrdiff_t>(Before.size()), Old.end(),
                                Want.begin() + static_cast<ptrdiff_t>(Before.size())))
            << Step.What << ": the change must be heard";
    }
    EXPECT_EQ(App->Memories[3].Count, 1) << "the store took the bank as it played";
    EXPECT_TRUE(Out().Active);
    EXPECT_EQ(Driver->Playbacks().size(), 1u);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TPlayback, ThePeriodGroupAndTheDeviceListCountWhileASignalPlays) {
    Start();
    Click("btnON");
    Play(5000);

    // another device: the signal stays where it started, the next ON takes the new one
    auto* Devices = W<QComboBox>("WaveDevice");
    Devices->setCurrentIndex(2);
    emit Devices->activated(2);
    Play(5000);
    EXPECT_EQ(Driver->Last().DeviceId, 0u);
    EXPECT_EQ(Driver->Playbacks().size(), 1u);

    // Loop switched off: the signal ends at the next period end
    W<QCheckBox>("Loop")->setChecked(false);
    Play(22050 * 3);
    EXPECT_FALSE(Out().Active);
    EXPECT_EQ(Led(), Maroon);
    EXPECT_LT(Heard().size(), 22050u * 3 * 4);

    // a new duration counts from the next ON
    Edit("Duration")->setText("0.25");
    W<QCheckBox>("Loop")->setChecked(true);
    Click("btnON");
    EXPECT_EQ(Driver->Last().DeviceId, 2u);
    EXPECT_EQ(App->Synth.PeriodSamples, 5512);  // 0.25 s at 22050 Hz, the tie to even
    Click("btnOFF");
}

} // namespace
} // namespace zelvo::test
