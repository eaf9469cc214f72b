#include "app/tfrmsettings.h"

#include <QCloseEvent>
#include <QFont>
#include <QKeyEvent>
#include <cmath>
#include <optional>

#include "app/dialog_window.h"
#include "app/strings.h"
#include "app/tgenerator.h"
#include "app/widgets.h"
#include "platform/error_sink.h"
#include "platform/html_help.h"
#include "platform/registry.h"
#include "synth/errors.h"
#include "ui_tfrmsettings.h"
#include "ui_tgenerator.h"

namespace zelvo {
namespace {

constexpr int kDefaultPosition = 2;  // 22050 Hz, 4 buffers, 16384 bytes

// A stored value, or nothing when it cannot be read as an integer.
std::optional<int32_t> ReadStored(TRegistry& Reg, const char* Name) {
    try {
        return Reg.ReadInteger(str::Q(Name));
    } catch (const ERegistryException&) {
        return std::nullopt;
    }
}

// A stored list position that is missing, unreadable or outside the list counts
// as missing: the list keeps its default, so that every reader finds a value.
void SelectStoredPosition(QComboBox* List, std::optional<int32_t> Position) {
    if (Position && *Position >= 0 && *Position < List->count())
        List->setCurrentIndex(*Position);
    else
        List->setCurrentIndex(kDefaultPosition);
}

int ListInteger(const QComboBox* List) {
    bool Ok = false;
    const int V = List->currentText().toInt(&Ok);
    if (!Ok)
        throw EConvertError(str::Q(str::NotAnInteger).replace("%s", List->currentText()).toStdString());
    return V;
}

} // namespace

TfrmSettings::TfrmSettings(TGenerator& Generator, TSynth& Synth, QWidget* Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TfrmSettings>()), FGenerator(Generator), FSynth(Synth) {
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(10);
    setFont(F);
    setFixedSize(233, 163);
    move(776, 198);
    TieToMainWindow(*this, Generator);
    ui->Button1->setFocus();

    auto G = [this](void (TfrmSettings::*Method)()) {
        return [this, Method] { GuardHandler([this, Method] { (this->*Method)(); }); };
    };
    connect(ui->cboFsList, &QComboBox::activated, this, G(&TfrmSettings::cboFsListChange));
    connect(ui->Button1, &QPushButton::clicked, this, G(&TfrmSettings::Button1Click));
    connect(ui->HelpButton, &QPushButton::clicked, this, G(&TfrmSettings::HelpButtonClick));

    FormCreate();
}

TfrmSettings::~TfrmSettings() = default;

void TfrmSettings::FormCreate() {
    ui->cboFsList->setCurrentIndex(kDefaultPosition);
    ui->Buffers->setCurrentIndex(kDefaultPosition);
    ui->BufferSize->setCurrentIndex(kDefaultPosition);

    {
        TRegistry Reg;
        const QString Key = str::Q(str::RegistryKey);
        if (Reg.KeyExists(Key)) {
            QComboBox* Devices = FGenerator.ui->WaveDevice;
            if (Reg.OpenKey(Key, false)) {
                if (Reg.ValueExists(str::Q(str::RegFs))) {
                    SelectStoredPosition(ui->cboFsList, ReadStored(Reg, str::RegFs));
                    SelectStoredPosition(ui->Buffers, ReadStored(Reg, str::RegBuffers));
                    SelectStoredPosition(ui->BufferSize, ReadStored(Reg, str::RegBufferSize));
                }
                int Device = 0;
                if (Reg.ValueExists(str::Q(str::RegWaveDevice)))
                    Device = ReadStored(Reg, str::RegWaveDevice).value_or(0);
                // a device that is no longer there selects nothing: the default device plays
                Devices->setCurrentIndex(Device >= 0 && Device < Devices->count() ? Device : -1);
            } else {
                // a key that cannot be opened counts as holding nothing
                Devices->setCurrentIndex(Devices->count() > 0 ? 0 : -1);
            }
            FGenerator.WaveDeviceChange();
        }
        FSynth.SampleRate = ListInteger(ui->cboFsList);
    }

    SetOscillatorDefaults();
    for (int No = 1; No <= 4; ++No)
        FGenerator.MemStore(No);
}

// Records 0 to 24 take the settings the main window's controls show at start;
// the reserved byte, the running fields and record 25 stay as they are.
void TfrmSettings::SetOscillatorDefaults() {
    const Ui::TGenerator* G = FGenerator.ui.get();
    for (int I = 0; I < TSynth::kMaxOscillators; ++I) {
        TOscRecord& R = FSynth.Oscillators[static_cast<size_t>(I)];
        R.ModeIndependent = G->RadioIndependent->isChecked();
        R.FreqInit = StoreF32(FGenerator.IntlStrToFloat(G->fInit->text()));
        R.FreqFinal = StoreF32(FGenerator.IntlStrToFloat(G->fFinal->text()));
        R.LogSweep = G->Logarithmic->isChecked();
        R.BiDir = G->Bidirectional->isChecked();
        R.ModeAdd = G->RadioAdd->isChecked();
        R.Summand = StoreF32(FGenerator.IntlStrToFloat(G->fSummand->text()));
        R.ModeMultiply = G->RadioMultiply->isChecked();
        R.Factor = StoreF32(FGenerator.IntlStrToFloat(G->fFactor->text()));
        R.LeftOn = G->LeftTick->isChecked();
        R.RightOn = G->RightTick->isChecked();
        R.PhaseDeg = StoreF32(FGenerator.IntlStrToFloat(G->PhaseEdit->text()));
        R.WaveKind = G->WaveForm->currentIndex();
        const long double Db = FGenerator.IntlStrToFloat(G->txtAInit->text());
        R.GainInit = StoreF32(std::pow(10.0L, Db / 20.0L));
        R.GainFinal = StoreF32(FGenerator.IntlStrToFloat(G->aFinal->text()));
    }
}

void TfrmSettings::ApplySampleRate() {
    FSynth.SampleRate = ListInteger(ui->cboFsList);
    const int32_t Half = FSynth.SampleRate / 2;
    for (TOscRecord& R : FSynth.Oscillators) {
        if (R.FreqInit > Half)
            R.FreqInit = static_cast<float>(Half);
        if (R.FreqFinal > Half)
            R.FreqFinal = static_cast<float>(Half);
    }
    FGenerator.TabControl1Change();
}

void TfrmSettings::cboFsListChange() {
    ApplySampleRate();
    ui->Button1->setFocus();
}

void TfrmSettings::Button1Click() {
    {
        TRegistry Reg;
        if (!Reg.OpenKey(str::Q(str::RegistryKey), true))
            throw ERegistryException(str::Q(str::FailedToSetData).replace("%s", str::Q(str::RegFs)).toStdString());
        Reg.WriteInteger(str::Q(str::RegFs), ui->cboFsList->currentIndex());
        Reg.WriteInteger(str::Q(str::RegBuffers), ui->Buffers->currentIndex());
        Reg.WriteInteger(str::Q(str::RegBufferSize), ui->BufferSize->currentIndex());
    }
    close();
}

void TfrmSettings::FormClose() {
    FGenerator.setEnabled(true);
    FGenerator.activateWindow();
}

void TfrmSettings::closeEvent(QCloseEvent* E) {
    GuardHandler([this] { FormClose(); });
    E->accept();
}

// No button is the default and none answers Escape: Enter presses only the
// button with the focus. F1 opens the dialog's own help context. It is a key of
// the dialog, not a window shortcut: a shortcut waits until the toolkit counts
// the dialog as the active window, which for a window tied to the main window
// may come after the dialog already has the keys.
void TfrmSettings::keyPressEvent(QKeyEvent* E) {
    if (E->key() == Qt::Key_F1) {
        GuardHandler([this] { HelpButtonClick(); });
        return;
    }
    if (!PressButtonForEnter(*this, *E))
        QWidget::keyPressEvent(E);
}

void TfrmSettings::HelpButtonClick() {
    // the help file was assigned when the dialog opened
    HtmlHelpContext(this, ApplicationHelpFile(), 2);
}

} // namespace zelvo
