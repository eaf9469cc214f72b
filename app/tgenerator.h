#pragma once
// The main window: the oscillator tabs with the one set of controls that edits
// the selected oscillator, the period and device groups, the memory buttons, the
// playback buttons and the menus.
#include <QMainWindow>
#include <QPixmap>
#include <array>
#include <memory>
#include <vector>

#include "app/memories.h"
#include "synth/synth.h"

class QAction;
class QLineEdit;
class QMenu;
class QRadioButton;

namespace Ui {
class TGenerator;
}

namespace zelvo {

class TAudioOut;
class TfrmSettings;

// The decimal separator of the user's locale, the one numbers are read and
// written with.
char LocaleDecimalSeparator();

// The application's help-file setting, which each help request uses.
QString& ApplicationHelpFile();

class TGenerator : public QMainWindow {
    Q_OBJECT
public:
    TGenerator(TSynth& Synth, TMemoryBank& Memories, QWidget* Parent = nullptr);
    ~TGenerator() override;

    std::unique_ptr<Ui::TGenerator> ui;
    TSynth& Synth;
    TMemoryBank& Memories;
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

    // Start-up and life cycle
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Exit1Click();
    void WaveDeviceChange();
    void LoadSettings(const QString& Filename);
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

    // Memories
    void MemStore(int no);

    // Playback controls and the commands of later work: bound, not yet filled.
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
