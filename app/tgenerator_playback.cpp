// The main window's control of the live signal: ON, OFF, Pause, F5, and its
// answers to the output's start and stop.
#include <QColor>
#include <QComboBox>
#include <QFont>

#include "app/message_box.h"
#include "app/strings.h"
#include "app/tfrmsettings.h"
#include "app/tgenerator.h"
#include "app/widgets.h"
#include "audio/audio_io.h"
#include "platform/error_sink.h"
#include "synth/errors.h"
#include "ui_tfrmsettings.h"
#include "ui_tgenerator.h"

namespace zelvo {
namespace {

const QColor kLedStopped(128, 0, 0);
const QColor kLedRunning(0, 128, 0);

// What a buffer fill needs of the window: the Loop box, the output's ring and
// its stop, and the plain message box.
class TGeneratorFillerHost final : public TFillerHost {
public:
    explicit TGeneratorFillerHost(TGenerator& G) : FG(G) {}
    bool LoopChecked() override { return FG.ui->Loop->isChecked(); }
    int32_t NumBuffers() override { return FG.AudioOut1->NumBuffers(); }
    int32_t BufferSize() override { return FG.AudioOut1->BufferSize(); }
    void StopAtOnce() override { FG.AudioOut1->StopAtOnce(); }
    void ShowMessage(const std::string& Text) override { TMessageBoxes::ShowMessage(QString::fromStdString(Text)); }

private:
    TGenerator& FG;
};

// The selected text of one of the settings dialog's lists as an integer.
int32_t ListInteger(const QComboBox* List) {
    bool Ok = false;
    const int V = List->currentText().trimmed().toInt(&Ok);
    if (!Ok)
        throw EConvertError(str::Q(str::NotAnInteger).replace("%s", List->currentText()).toStdString());
    return V;
}

void SetBold(QWidget* W, bool Bold) {
    QFont F = W->font();
    F.setBold(Bold);
    W->setFont(F);
}

} // namespace

void TGenerator::BindPlayback() {
    FillerHost = std::make_unique<TGeneratorFillerHost>(*this);
    Filler = std::make_unique<TBufferFiller>(Synth, *FillerHost);
    AudioOut1->OnFillBuffer = [this](uint8_t* Buffer, int32_t& Size) {
        return Filler->AudioOut1FillBuffer(Buffer, Size);
    };
    AudioOut1->OnStart = [this] { AudioOut1Start(); };
    AudioOut1->OnStop = [this] { AudioOut1Stop(); };
}

void TGenerator::btnONClick() {
    if (!AudioOut1->Active) {
        Synth.PrepareSweep(ui->Duration->text().toStdString(), LocaleDecimalSeparator());
        if (!frmSettings)
            return;  // no settings dialog, no ring to configure
        AudioOut1->SetStereo(true);
        AudioOut1->SetFrameRate(Synth.SampleRate);
        // the number first: only a new size reallocates, and it allocates that many
        AudioOut1->SetNumBuffers(ListInteger(frmSettings->ui->Buffers));
        AudioOut1->SetBufferSize(ListInteger(frmSettings->ui->BufferSize));
        if (!AudioOut1->Start(nullptr)) {
            const QString Error = QString::fromStdString(AudioOut1->ErrorMessage);
            if (Error == str::Q(str::NoFilledBuffer))
                TMessageBoxes::ShowMessage(str::Q(str::ShortSignals));
            else
                TMessageBoxes::ShowMessage(str::Q(str::AudioOutFailed) + QChar(13) + Error);
        }
    }
    ui->btnOFF->setFocus();
}

void TGenerator::btnOFFClick() {
    AudioOut1->StopAtOnce();
    if (ui->btnON->isEnabled())
        ui->btnON->setFocus();
}

void TGenerator::btnPauseClick() {
    AudioOut1->SetPaused(!AudioOut1->Paused());
    SetBold(ui->btnPause, AudioOut1->Paused());
}

void TGenerator::OnOff1Click() {
    if (AudioOut1->Active)
        btnOFFClick();
    else
        btnONClick();
}

void TGenerator::AudioOut1Start() {
    ui->AddOscButton->setEnabled(false);
    ui->TabControl1->setEnabled(false);
    ui->LED->setBrushColor(kLedRunning);
    ui->LED->setPenColor(Qt::black);
}

void TGenerator::AudioOut1Stop() {
    ui->AddOscButton->setEnabled(true);
    ui->TabControl1->setEnabled(true);
    ui->LED->setBrushColor(kLedStopped);
    ui->LED->setPenColor(Qt::black);
    SetBold(ui->btnPause, false);
    if (ui->btnON->isEnabled())
        ui->btnON->setFocus();
}

} // namespace zelvo
