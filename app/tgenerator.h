#pragma once
// The main window: the oscillator tabs with the one set of controls that edits
// the selected oscillator, the period and device groups, the memory buttons, the
// playback buttons and the menus.
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/memories.h"
#include "app/file_dialog.h"
#include "synth/buffer_filler.h"
#include "synth/synth.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QMenu;
class QRadioButton;

namespace Ui {
class TGenerator;
}

namespace zelvo {

class TAudioOut;
class TfrmAbout;
class TfrmSettings;
class TfrmWait;

// The decimal separator of the user's locale, the one numbers are read and
// written with.
char LocaleDecimalSeparator();

// The application's help-file setting, which each help request uses.
QString& ApplicationHelpFile();

// The help file of a program in ProgramFolder: the one beside it (the build
// tree), else the one of an installed program in its data folder. When neither
// exists, the one beside it, so that the viewer's message names that.
QString LocateHelpFile(const QString& ProgramFolder);

class TGenerator : public QMainWindow {
    Q_OBJECT
public:
    TGenerator(TSynth& Synth, TMemoryBank& Memories, QWidget* Parent = nullptr);
    ~TGenerator() override;

    std::unique_ptr<Ui::TGenerator> ui;
    TSynth& Synth;
    TMemoryBank& Memories;
    // AudioOut1's OnFillBuffer, answered for the window; they outlive the output.
    std::unique_ptr<TFillerHost> FillerHost;
    std::unique_ptr<TBufferFiller> Filler;
    std::unique_ptr<TAudioOut> AudioOut1;

    // WaveBitmaps[k] shows waveform code k.
    std::array<QPixmap, 5> WaveBitmaps;
    QString HelpFilePath;
    // The tab images, one per tab in tab order.
    std::vector<QPixmap> TabImages;

    QMenu* popRemove = nullptr;
    QMenu* popTabs = nullptr;
    QAction* Closethistab1 = nullptr;
    std::array<QMenu*, 4> PopupMenus{};  // PopupMenu1..PopupMenu4 of the memory buttons

    TfrmSettings* frmSettings = nullptr;  // set by the start-up once the dialog exists
    TfrmAbout* frmAbout = nullptr;        // likewise
    TfrmWait* frmWait = nullptr;          // likewise
    TSaveDialog SaveDialog1;              // the wave file's
    TSaveDialog SaveDialog2;              // the preset file's
    TOpenDialog OpenDialog1;              // the preset file's

    // Start-up and life cycle
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Exit1Click();
    void WaveDeviceChange();
    void LoadSettings(const QString& Filename);
    // Filename as the bytes the system gives, UTF-8 or not (the command line).
    void LoadSettings(const std::string& Filename);
    void CompatibilitySettings1Click();

    // Tabs and the waveform list
    void AddOscButtonClick();
    void RemoveClick(QAction* Sender);
    void btnRemoveOscClick();
    void TabControl1Change();
    void WaveFormChange();
    void WaveFormDrawItem(QPainter& Canvas, int Index, const QRect& Rect, bool Selected);
    QPoint RemovePopupPoint() const;  // where btnRemoveOscClick opens popRemove

    // Parameter entry
    void fInitExit();
    void fFinalExit();
    void fSummandExit();
    void fFactorChange();
    void PhaseEditChange();
    void txtAInitChange();
    void txtAInitExit();
    void aFinalChange();
    void LogarithmicClick();
    void BidirectionalClick();
    void LeftTickClick();
    void RightTickClick();
    void RadioIndependentMouseUp();
    void fSummandEnter();
    void fFactorEnter();

    // Memories and preset files (tgenerator_memories.cpp)
    void MemStore(int no);
    void MemRecall(int no);
    void MemEditExit(int no);   // commits the rename field of memory no
    void ShowMemoryNames();     // the buttons' captions from the names

    // Playback (tgenerator_playback.cpp)
    void AudioOut1Start();
    void AudioOut1Stop();

    // The handlers of the buttons and menu commands.
    void btnONClick();
    void btnOFFClick();
    void btnPauseClick();
    void OnOff1Click();
    void OpenToneSettings1Click();
    void SaveToneSettings1Click();
    void SaveToneasWave1Click();
    void Help2Click();
    void About1Click();
    void MemRecallClick(int no);
    void RenameClick(int no);

    // The dialog with "Don't show this message again.": 0 without a dialog when
    // ValueName is stored, else the button that closed it (tgenerator_export.cpp).
    int MessageDlgOnce(const QString& Msg, const QString& Caption, QMessageBox::StandardButtons Buttons,
                       const QString& ValueName);
    // Tests answer that dialog in the user's place: the hook gets it built, may
    // tick its check box and returns the button; an empty hook shows it again.
    using TDialogAnswer = std::function<int(QMessageBox& Box, QCheckBox& DontShow)>;
    static void SetMessageDlgOnceHook(TDialogAnswer Hook);

    double IntlStrToFloat(const QString& Str) const;
    int TabIndex() const;
    int TabCount() const;

signals:
    void Closed();

protected:
    bool event(QEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;
    void closeEvent(QCloseEvent* E) override;
    void keyPressEvent(QKeyEvent* E) override;

private:
    void BindHandlers();
    void BindPlayback();
    void BindMemories();
    void StoreNumber(QLineEdit* Edit, void (*Store)(TOscRecord&, float), bool Decibel);
    void StoreMode();
    void ApplyTabImages();
    void AddRemoveItems(const QString& Caption);
    void SelectTab(int Index);
    void CommitPendingEntry();
    void SetFrequencyControlsVisible(bool Visible);
    void SetRelationControlsVisible(bool Visible);
    QString GeneralText(long double Value, int Precision = 15) const;

    bool FSelectingTab = false;  // a tab change made by code, not by the user
    bool FLoadingGainFinal = false;
};

// Checks or unchecks one button of an exclusive group; unchecking the checked
// one leaves the group without a checked button.
void SetRadioChecked(QRadioButton* Button, bool Checked);

} // namespace zelvo
