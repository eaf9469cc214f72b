#pragma once
// The compatibility-settings dialog: buffer size, number of buffers and sampling
// rate. Its creation is the start-up step that reads the stored settings, sets
// the sampling rate, gives the oscillator records their defaults and fills the
// memories.
#include <QWidget>
#include <memory>

#include "synth/synth.h"

namespace Ui {
class TfrmSettings;
}

namespace zelvo {

class TGenerator;

class TfrmSettings : public QWidget {
    Q_OBJECT
public:
    TfrmSettings(TGenerator& Generator, TSynth& Synth, QWidget* Parent = nullptr);
    ~TfrmSettings() override;

    std::unique_ptr<Ui::TfrmSettings> ui;

    void FormCreate();
    // Steps 1 to 4 of a rate change: also the way another command applies a rate
    // after it changed the list's selection itself.
    void ApplySampleRate();
    void cboFsListChange();
    void Button1Click();
    void FormClose();
    void HelpButtonClick();

protected:
    void closeEvent(QCloseEvent* E) override;
    void keyPressEvent(QKeyEvent* E) override;

private:
    void SetOscillatorDefaults();

    TGenerator& FGenerator;
    TSynth& FSynth;
};

} // namespace zelvo
