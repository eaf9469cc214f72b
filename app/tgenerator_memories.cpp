// The four memory presets of the main window (store, recall, rename) and the
// preset files that carry them.
#include <QEvent>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>
#include <utility>

#include "app/ansi_text.h"
#include "app/message_box.h"
#include "app/preset_file.h"
#include "app/strings.h"
#include "app/tgenerator.h"
#include "app/widgets.h"
#include "audio/audio_io.h"
#include "platform/error_sink.h"
#include "ui_tgenerator.h"

namespace zelvo {
namespace {

QPushButton* MemButton(Ui::TGenerator& U, int No) {
    QPushButton* const B[4] = {U.Mem1, U.Mem2, U.Memory3, U.Memory4};
    return B[No - 1];
}

QLineEdit* MemEdit(Ui::TGenerator& U, int No) {
    QLineEdit* const E[4] = {U.Mem1Edit, U.Mem2Edit, U.Mem3Edit, U.Mem4Edit};
    return E[No - 1];
}

// A rename field lies on its button's face and is drawn in the face's colours,
// in every state of the window, also after the palette has changed.
void PaintAsButtonFace(QLineEdit* E) {
    QPalette P = E->palette();
    bool Changed = false;
    for (const auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const auto& [Role, Face] : {std::pair{QPalette::Base, QPalette::Button},
                                        std::pair{QPalette::Text, QPalette::ButtonText}}) {
            if (P.brush(Group, Role) != P.brush(Group, Face)) {
                P.setBrush(Group, Role, P.brush(Group, Face));
                Changed = true;
            }
        }
    }
    if (Changed)
        E->setPalette(P);
}

// The rename fields' key and leave handlers: Enter or the loss of the focus
// commits the name.
class TRenameFieldFilter final : public QObject {
public:
    TRenameFieldFilter(TGenerator& G, QLineEdit* Edit, int No) : QObject(Edit), FG(G), FNo(No) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* E) override {
        if (E->type() == QEvent::PaletteChange) {
            PaintAsButtonFace(static_cast<QLineEdit*>(Watched));
        } else if (E->type() == QEvent::KeyPress) {
            const int Key = static_cast<QKeyEvent*>(E)->key();
            if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
                GuardHandler([this] { FG.MemEditExit(FNo); });
                // The commit made ON the default button again: the same Enter
                // must not go on to press it.
                return true;
            }
        } else if (E->type() == QEvent::FocusOut) {
            const Qt::FocusReason R = static_cast<QFocusEvent*>(E)->reason();
            // another window or a pop-up taking the focus for a while is no leave
            if (R != Qt::ActiveWindowFocusReason && R != Qt::PopupFocusReason)
                GuardHandler([this] { FG.MemEditExit(FNo); });
        }
        return QObject::eventFilter(Watched, E);
    }

private:
    TGenerator& FG;
    const int FNo;
};

} // namespace

void TGenerator::BindMemories() {
    for (int No = 1; No <= TMemoryBank::kCount; ++No) {
        QLineEdit* E = MemEdit(*ui, No);
        PaintAsButtonFace(E);
        E->installEventFilter(new TRenameFieldFilter(*this, E, No));
    }

    SaveDialog2.Title = str::Q(str::SavePresetsTitle);
    SaveDialog2.Filter = str::Q(str::SavePresetsFilter);
    SaveDialog2.DefaultExt = str::Q(str::PresetExtension);
    SaveDialog2.OverwritePrompt = false;
    OpenDialog1.Title = str::Q(str::OpenPresetsTitle);
    OpenDialog1.Filter = str::Q(str::OpenPresetsFilter);
    OpenDialog1.DefaultExt = str::Q(str::PresetExtension);
}

// ---- store and recall

// All 26 records, running fields and the spare record included, and the count.
void TGenerator::MemStore(int no) {
    Memories[no].Bank = Synth.Oscillators;
    Memories[no].Count = Synth.OscCount;
}

void TGenerator::MemRecallClick(int no) { MemRecall(no); }

void TGenerator::MemRecall(int no) {
    const TMemorySlot& M = Memories[no];
    TabImages.clear();
    ApplyTabImages();

    Synth.Oscillators = M.Bank;
    // A count from a foreign file is brought into the range the tabs can show;
    // the synthesis never mixes more oscillators than there are tabs.
    Synth.OscCount = std::clamp<int32_t>(M.Count, 1, TSynth::kMaxOscillators);
    Synth.LastOsc = Synth.OscCount - 1;

    if (TabIndex() + 1 > Synth.OscCount)
        SelectTab(Synth.OscCount - 1);
    QTabBar* Tabs = ui->TabControl1->TabBar();
    FSelectingTab = true;
    while (Tabs->count() > Synth.OscCount)
        Tabs->removeTab(Tabs->count() - 1);
    while (Tabs->count() < Synth.OscCount)
        Tabs->addTab(str::Q(str::OscPrefix) + QString::number(Tabs->count() + 1));
    FSelectingTab = false;

    for (QMenu* Menu : {ui->RemoveOscillator1, popRemove}) {
        QList<QAction*> Items = Menu->actions();
        while (Items.size() > Synth.OscCount - 1) {
            QAction* Last = Items.takeLast();
            Menu->removeAction(Last);
            Last->deleteLater();
        }
        for (qsizetype N = Items.size() + 2; N <= Synth.OscCount; ++N) {
            QAction* A = Menu->addAction(str::Q(str::OscPrefix) + QString::number(N));
            connect(A, &QAction::triggered, this, [this, A] { GuardHandler([this, A] { RemoveClick(A); }); });
        }
    }

    for (int I = 0; I < Tabs->count(); ++I) {
        const int Shown = ui->WaveForm->currentIndex();
        TabImages.push_back(Shown >= 0 && Shown < 5 ? WaveBitmaps[static_cast<size_t>(Shown)] : QPixmap());
        ApplyTabImages();
        SelectTab(I);
        TabControl1Change();
        // a waveform code the list lacks shows no image, not its neighbour's
        if (ui->WaveForm->currentIndex() < 0) {
            TabImages[static_cast<size_t>(I)] = QPixmap();
            ApplyTabImages();
        }
    }
}

// ---- rename

void TGenerator::RenameClick(int no) {
    QPushButton* B = MemButton(*ui, no);
    QLineEdit* E = MemEdit(*ui, no);
    ui->btnON->setDefault(false);
    B->setText(QString());
    E->setText(B->text());
    E->setVisible(true);
    E->setEnabled(true);
    E->setFocus(Qt::OtherFocusReason);
    // Taking the focus may have committed another open field, which makes ON
    // the default again; while this field is open it must not be.
    ui->btnON->setDefault(false);
}

void TGenerator::MemEditExit(int no) {
    QPushButton* B = MemButton(*ui, no);
    QLineEdit* E = MemEdit(*ui, no);
    const QString Text = E->text();
    B->setText(Text);
    Memories[no].SetName(AnsiFromText(Text.left(255)));
    ui->btnON->setDefault(true);
    // hiding the focused field moves the focus on, which may commit once more
    E->setVisible(false);
    E->setEnabled(false);
}

void TGenerator::ShowMemoryNames() {
    for (int No = 1; No <= TMemoryBank::kCount; ++No)
        MemButton(*ui, No)->setText(TextFromAnsi(Memories[No].Name()));
}

// ---- preset files

void TGenerator::SaveToneSettings1Click() {
    AudioOut1->StopAtOnce();
    if (SaveDialog2.Execute(this))
        WriteWholeFile(SaveDialog2.FileName, PresetFileImage(Memories));
    ApplicationHelpFile() = HelpFilePath;
}

void TGenerator::OpenToneSettings1Click() {
    AudioOut1->StopAtOnce();
    if (OpenDialog1.Execute(this))
        LoadSettings(OpenDialog1.FileName);
}

void TGenerator::LoadSettings(const QString& Filename) { LoadSettings(QFile::encodeName(Filename).toStdString()); }

void TGenerator::LoadSettings(const std::string& Filename) {
    const std::optional<std::vector<uint8_t>> Bytes = ReadPresetFile(Filename);
    if (!Bytes || !ReadPresetImage(Bytes->data(), Bytes->size(), Memories)) {
        TMessageBoxes::ShowMessage(str::Q(str::WrongFileFormat));
        return;
    }
    ShowMemoryNames();
}

} // namespace zelvo
