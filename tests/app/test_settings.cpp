// The compatibility-settings dialog and the settings it keeps.
#include <QDir>
#include <QFile>

#include "app_fixture.h"
#include "synth/osc_record.h"

namespace zelvo::test {
namespace {

struct TStoredCase {
    const char* Name;
    std::vector<std::pair<const char*, int32_t>> Stored;  // empty: no key at all
    const char* RawText;  // or the store's file written by hand
    int Fs, Buffers, BufferSize;
    int Device;
    int32_t SampleRate;
};

void PrintTo(const TStoredCase& C, std::ostream* Os) { *Os << C.Name; }

class TStoredSettings : public TAppFixture, public ::testing::WithParamInterface<TStoredCase> {};

TEST_P(TStoredSettings, StartUpSelectsWhatIsStoredAndAlwaysEndsWithDefaults) {
    const TStoredCase& C = GetParam();
    if (C.RawText) {
        QFile F(QDir(Dir.path()).filePath("Zelvo.ini"));
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write(C.RawText);
    } else if (!C.Stored.empty()) {
        TRegistry Reg;
        ASSERT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Quorvin\\Zelvo"), true));
        for (const auto& [Name, Value] : C.Stored)
            Reg.WriteInteger(QString::fromLatin1(Name), Value);
    }
    StartApp();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(W<QComboBox>("cboFsList")->currentIndex(), C.Fs);
    EXPECT_EQ(W<QComboBox>("Buffers")->currentIndex(), C.Buffers);
    EXPECT_EQ(W<QComboBox>("BufferSize")->currentIndex(), C.BufferSize);
    EXPECT_EQ(W<QComboBox>("WaveDevice")->currentIndex(), C.Device);
    EXPECT_EQ(G().AudioOut1->WaveDevice(), static_cast<uint32_t>(C.Device));
    EXPECT_EQ(App->Synth.SampleRate, C.SampleRate);
    const TOscRecord Default = DefaultOscRecord();
    EXPECT_EQ(std::memcmp(&Rec(24), &Default, sizeof Default), 0);
    EXPECT_EQ(std::memcmp(App->Memories[4].Bank.data(), App->Synth.Oscillators.data(),
                          sizeof App->Memories[4].Bank),
              0);
    EXPECT_EQ(App->Memories[4].Count, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TStoredSettings,
    ::testing::Values(
        TStoredCase{"NoKey", {}, nullptr, 2, 2, 2, 0, 22050},
        TStoredCase{"DeviceWithoutFs", {{"WaveDevice", 2}}, nullptr, 2, 2, 2, 2, 22050},
        TStoredCase{"FsWithoutDevice", {{"Fs", 3}, {"Buffers", 0}, {"BufferSize", 4}}, nullptr, 3, 0, 4, 0, 44100},
        TStoredCase{"FsAlone", {{"Fs", 0}}, nullptr, 0, 2, 2, 0, 8000},
        TStoredCase{"OutOfRange", {{"Fs", 9}, {"Buffers", -1}, {"BufferSize", 5}, {"WaveDevice", 1}}, nullptr, 2,
                    2, 2, 1, 22050},
        TStoredCase{"DeviceGone", {{"Fs", 5}, {"Buffers", 1}, {"BufferSize", 0}, {"WaveDevice", 7}}, nullptr, 5, 1,
                    0, -1, 96000},
        TStoredCase{"NotIntegers", {},
                    "[Software\\Quorvin\\Zelvo]\nFs=fast\nBuffers=1\nBufferSize=1.5\nWaveDevice=x\n", 2, 1, 2, 0,
                    22050}),
    [](const ::testing::TestParamInfo<TStoredCase>& I) { return std::string(I.param.Name); });

class TSettingsDialog : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        StartApp();
        ShowWindow();
    }
    void Open() {
        W<QAction>("CompatibilitySettings1")->trigger();
        ASSERT_TRUE(S().isVisible());
        ASSERT_FALSE(G().isEnabled());
    }
    // What a pick from the open list does.
    static void Pick(QComboBox* List, int Index) {
        List->setCurrentIndex(Index);
        emit List->activated(Index);
    }
    bool KeyExists() {
        TRegistry Reg;
        return Reg.KeyExists(QStringLiteral("\\Software\\Quorvin\\Zelvo"));
    }
};

TEST_F(TSettingsDialog, CloseStoresListPositionsAndGivesTheWindowBack) {
    Open();
    Pick(W<QComboBox>("cboFsList"), 5);
    EXPECT_EQ(App->Synth.SampleRate, 96000);
    Pick(W<QComboBox>("Buffers"), 0);
    Pick(W<QComboBox>("BufferSize"), 4);
    EXPECT_FALSE(KeyExists());  // a change alone writes nothing
    QTest::mouseClick(W<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_FALSE(S().isVisible());
    EXPECT_TRUE(G().isEnabled());
    EXPECT_EQ(StoredInteger("Fs"), 5);
    EXPECT_EQ(StoredInteger("Buffers"), 0);
    EXPECT_EQ(StoredInteger("BufferSize"), 4);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TSettingsDialog, TheCloseBoxStoresNothingButTheRateHolds) {
    Open();
    Pick(W<QComboBox>("cboFsList"), 3);
    S().close();
    EXPECT_TRUE(G().isEnabled());
    EXPECT_FALSE(KeyExists());
    EXPECT_EQ(App->Synth.SampleRate, 44100);
    Open();  // the dialog shows the same positions again
    EXPECT_EQ(W<QComboBox>("cboFsList")->currentIndex(), 3);
}

TEST_F(TSettingsDialog, ARateChangeCapsFrequenciesAtHalfTheRate) {
    TypeInto(Edit("fInit"), "5000");
    TypeInto(Edit("fFinal"), "3000");
    LeaveField();
    G().MemStore(1);
    Rec(25).FreqFinal = 9000;  // live or not, every record is capped
    Open();
    auto* Fs = W<QComboBox>("cboFsList");

    Pick(Fs, 0);  // 8000 Hz
    EXPECT_EQ(App->Synth.SampleRate, 8000);
    EXPECT_EQ(+Rec(0).FreqInit, 4000.0f);
    EXPECT_EQ(+Rec(0).FreqFinal, 3000.0f);
    EXPECT_EQ(+Rec(25).FreqFinal, 4000.0f);
    EXPECT_EQ(+Rec(1).FreqInit, 1000.0f);
    EXPECT_EQ(Edit("fInit")->text(), "4000");  // the tab was shown again
    EXPECT_EQ(S().focusWidget(), W<QPushButton>("Button1"));

    Pick(Fs, 3);  // 44100 Hz brings nothing back
    EXPECT_EQ(+Rec(0).FreqInit, 4000.0f);
    Pick(Fs, 1);  // 11025 Hz: half is a whole number
    EXPECT_EQ(+Rec(0).FreqInit, 4000.0f);
    Edit("fInit")->setText("6000");  // stores, as a load would
    Pick(Fs, 1);
    EXPECT_EQ(+Rec(0).FreqInit, 5512.0f);
    // the memories are not capped
    EXPECT_EQ(+App->Memories[1].Bank[0].FreqInit, 5000.0f);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TSettingsDialog, AStoreThatCannotBeWrittenKeepsTheDialogOpen) {
    Open();
    const QString Blocker = Dir.filePath("blocked");
    QFile F(Blocker);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    F.close();
    TRegistry::SetStorageFolder(Blocker);
    QTest::mouseClick(W<QPushButton>("Button1"), Qt::LeftButton);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(Boxes[0].Text, "Failed to set data for 'Fs'.");
    EXPECT_TRUE(S().isVisible());
    EXPECT_FALSE(G().isEnabled());
    S().close();
    EXPECT_TRUE(G().isEnabled());
}

} // namespace
} // namespace zelvo::test
