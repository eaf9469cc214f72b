// The main window's WAV export, about box and help commands.
#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QShowEvent>

#include "app/dialog_window.h"
#include "app/strings.h"
#include "app/tfrmabout.h"
#include "app/tfrmsettings.h"
#include "app/tfrmwait.h"
#include "app/tgenerator.h"
#include "audio/audio_io.h"
#include "platform/html_help.h"
#include "platform/registry.h"
#include "synth/wav_writer.h"
#include "ui_tfrmsettings.h"
#include "ui_tgenerator.h"

namespace zelvo {
namespace {

constexpr int kMainWindowHelpContext = 1;
constexpr int kDialogHeight = 200;
const QRect DontShowRect(10, 110, 300, 30);

TGenerator::TDialogAnswer& DialogAnswer() {
    static TGenerator::TDialogAnswer Hook;
    return Hook;
}

// The toolkit's message dialog, 200 pixels high: the toolkit sizes it when it is
// shown, so the height is set after that.
class TMessageDlg : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    // Keeps the text at the top and the buttons below the check box's rectangle.
    void MakeRoomFor(const QRect& Below) {
        auto* Grid = qobject_cast<QGridLayout*>(layout());
        if (!Grid)
            return;
        if (auto* Text = findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            Text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        const int Top = Grid->contentsMargins().top();
        Grid->setRowMinimumHeight(0, Below.bottom() + 1 - Top);
    }

protected:
    void showEvent(QShowEvent* E) override {
        QMessageBox::showEvent(E);
        setFixedHeight(kDialogHeight);
    }
};

} // namespace

void TGenerator::SetMessageDlgOnceHook(TDialogAnswer Hook) { DialogAnswer() = std::move(Hook); }

int TGenerator::MessageDlgOnce(const QString& Msg, const QString& Caption, QMessageBox::StandardButtons Buttons,
                               const QString& ValueName) {
    TRegistry Reg;
    // opened without creating: a missing key means the value is missing
    if (Reg.OpenKey(str::Q(str::RegistryKey), false) && Reg.ValueExists(ValueName))
        return 0;

    TMessageDlg Box(QMessageBox::Warning, Caption, Msg, Buttons, this);
    if (Buttons.testFlag(QMessageBox::Yes))
        Box.setDefaultButton(QMessageBox::Yes);
    if (Buttons.testFlag(QMessageBox::No))
        Box.setEscapeButton(QMessageBox::No);
    auto* DontShow = new QCheckBox(str::Q(str::DontShowAgain), &Box);
    DontShow->setObjectName(QStringLiteral("DontShow"));
    DontShow->setGeometry(DontShowRect);
    Box.MakeRoomFor(DontShowRect);

    const int Result = DialogAnswer() ? DialogAnswer()(Box, *DontShow) : Box.exec();
    if (DontShow->isChecked())
        Reg.WriteInteger(ValueName, 1);
    return Result;
}

void TGenerator::SaveToneasWave1Click() {
    QComboBox* Rates = frmSettings->ui->cboFsList;
    const QString CDRate = str::Q(str::SampleRateForCD);
    if (Rates->currentText() != CDRate) {
        const int Answer = MessageDlgOnce(str::Q(str::CDFormatHint), str::Q(str::HintCaption),
                                          QMessageBox::Yes | QMessageBox::No, str::Q(str::RegCDformat));
        if (Answer == QMessageBox::Yes) {
            Rates->setCurrentIndex(Rates->findText(CDRate, Qt::MatchExactly));
            frmSettings->ApplySampleRate();  // the dialog stays hidden: no focus move
        }
    }

    AudioOut1->StopAtOnce();
    Synth.PrepareSweep(ui->Duration->text().toStdString(), LocaleDecimalSeparator());
    // refused before a name is asked for, so the error box tells why
    CheckWaveExportable(Synth.PeriodSamples);

    SaveDialog1.Title = str::Q(str::SaveWaveTitle);
    SaveDialog1.Filter = str::Q(str::SaveWaveFilter);
    SaveDialog1.DefaultExt = str::Q(str::SaveWaveExtension);
    SaveDialog1.OverwritePrompt = true;
    SaveDialog1.FileName = str::Q(str::WaveNameStart) + QString::number(Synth.OscCount) +
                           str::Q(str::WaveNameOscillators) + ui->Duration->text() + str::Q(str::WaveNameEnd);
    if (SaveDialog1.Execute(this))
        WriteWaveData(Synth, QFile::encodeName(SaveDialog1.FileName).toStdString(), *frmWait);
    ApplicationHelpFile() = HelpFilePath;
}

void TGenerator::Help2Click() {
    ApplicationHelpFile() = HelpFilePath;
    HtmlHelpContext(this, ApplicationHelpFile(), kMainWindowHelpContext);
}

void TGenerator::About1Click() {
    ApplicationHelpFile() = HelpFilePath;
    setEnabled(false);
    ShowOver(*frmAbout, *this);
}

} // namespace zelvo
