#include "app/tgenerator.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QTabBar>
#include <cmath>

#include "app/ansi_text.h"
#include "app/dialog_window.h"
#include "app/message_box.h"
#include "app/strings.h"
#include "app/tfrmsettings.h"
#include "app/widgets.h"
#include "audio/audio_io.h"
#include "platform/error_sink.h"
#include "platform/registry.h"
#include "platform/wave_out.h"
#include "synth/number_text.h"
#include "ui_tgenerator.h"

// The bitmaps live in a static library: their registration must be pulled in.
static void InitZelvoResources() { Q_INIT_RESOURCE(zelvo); }

namespace zelvo {

char LocaleDecimalSeparator() {
    const QString Point = QLocale().decimalPoint();
    const QChar C = Point.isEmpty() ? QLatin1Char('.') : Point.at(0);
    return C.unicode() > 0 && C.unicode() < 128 ? static_cast<char>(C.unicode()) : '.';
}

QString& ApplicationHelpFile() {
    static QString HelpFile;
    return HelpFile;
}

QString LocateHelpFile(const QString& ProgramFolder) {
    const QDir Folder(ProgramFolder);
    const QString Beside = Folder.filePath(str::Q(str::HelpFileName));
    if (QFileInfo::exists(Beside))
        return Beside;
    // ZELVO_DATA_FROM_BIN: the installed data folder as seen from the installed program
    const QString Installed =
        QDir::cleanPath(Folder.filePath(QStringLiteral(ZELVO_DATA_FROM_BIN "/") + str::Q(str::HelpFileName)));
    return QFileInfo::exists(Installed) ? Installed : Beside;
}

void SetRadioChecked(QRadioButton* Button, bool Checked) {
    if (Checked) {
        Button->setChecked(true);
    } else if (Button->isChecked()) {
        Button->setAutoExclusive(false);
        Button->setChecked(false);
        Button->setAutoExclusive(true);
    }
}

namespace {

const char* const BitmapNames[5] = {"SINE", "SQUARE", "TRIANGULAR", "WHITE", "PINK"};

bool IsFocusEventOfTheWindow(QEvent* E) {
    const Qt::FocusReason R = static_cast<QFocusEvent*>(E)->reason();
    // focus that goes to another window or a pop-up and comes back is no entry or exit
    return R != Qt::ActiveWindowFocusReason && R != Qt::PopupFocusReason;
}

// The oscillator number in a remove item's caption ("Osc 7" gives 7), 0 when
// the caption names none.
int OscNumberOf(const QAction* Item) {
    if (!Item)
        return 0;
    QString Caption = Item->text();
    Caption.remove(QLatin1Char('&'));
    const QString Prefix = str::Q(str::OscPrefix);
    if (!Caption.startsWith(Prefix))
        return 0;
    bool Ok = false;
    const int N = Caption.mid(Prefix.size()).trimmed().toInt(&Ok);
    return Ok ? N : 0;
}

} // namespace

TGenerator::TGenerator(TSynth& S, TMemoryBank& M, QWidget* Parent)
    : QMainWindow(Parent), ui(std::make_unique<Ui::TGenerator>()), Synth(S), Memories(M) {
    InitZelvoResources();
    ui->setupUi(this);

    // a single border: no maximise box, no resizing; the client area is the central widget
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // the window follows the menu bar's real height, known only once it is polished
    ui->centralwidget->setFixedSize(491, 384);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // the three tabs of the layout
    QTabBar* Tabs = ui->TabControl1->TabBar();
    FSelectingTab = true;
    Tabs->addTab(str::Q(str::FirstTab));
    Tabs->addTab(str::Q(str::OscPrefix) + QString::number(2));
    Tabs->addTab(str::Q(str::OscPrefix) + QString::number(3));
    Tabs->setCurrentIndex(0);
    FSelectingTab = false;
    QWidget::setTabOrder(ui->AddOscButton, Tabs);
    ui->TabControl1->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->Panel2->lower();

    ui->UpDown5->SetAssociate(ui->txtAInit);
    ui->UpDown6->SetAssociate(ui->aFinal);
    ui->UpDown7->SetAssociate(ui->fInit);
    ui->UpDown8->SetAssociate(ui->fFinal);

    // pop-up menus
    popRemove = new QMenu(this);
    popRemove->setObjectName(QStringLiteral("popRemove"));
    popRemove->addAction(str::Q(str::OscPrefix) + QString::number(2))->setObjectName(QStringLiteral("Osc23"));
    popRemove->addAction(str::Q(str::OscPrefix) + QString::number(3))->setObjectName(QStringLiteral("Osc32"));
    ui->btnRemoveOsc->setContextMenuPolicy(Qt::CustomContextMenu);
    popTabs = new QMenu(this);
    popTabs->setObjectName(QStringLiteral("popTabs"));
    Closethistab1 = popTabs->addAction(str::Q(str::CloseThisTab));
    Closethistab1->setObjectName(QStringLiteral("Closethistab1"));
    QPushButton* MemButtons[4] = {ui->Mem1, ui->Mem2, ui->Memory3, ui->Memory4};
    const char* StoreNames[4] = {"Store", "Store2", "Store3", "Store4"};
    const char* RenameNames[4] = {"Rename", "Rename1", "Rename2", "Rename3"};
    for (int I = 0; I < 4; ++I) {
        PopupMenus[I] = new QMenu(this);
        PopupMenus[I]->setObjectName(QStringLiteral("PopupMenu%1").arg(I + 1));
        QAction* Store = PopupMenus[I]->addAction(str::Q(str::StoreItem));
        Store->setObjectName(QString::fromLatin1(StoreNames[I]));
        if (I == 0)
            Store->setStatusTip(str::Q(str::StoreItemHint));
        PopupMenus[I]->addAction(str::Q(str::RenameItem))->setObjectName(QString::fromLatin1(RenameNames[I]));
        MemButtons[I]->setContextMenuPolicy(Qt::CustomContextMenu);
    }

    AudioOut1 = std::make_unique<TAudioOut>();
    AudioOut1->SetFrameRate(22050);

    ui->WaveForm->SetDrawItem([this](QPainter& Canvas, int Index, const QRect& Rect, bool Selected) {
        WaveFormDrawItem(Canvas, Index, Rect, Selected);
    });

    BindHandlers();
    BindPlayback();
    BindMemories();
    FormCreate();
}

TGenerator::~TGenerator() = default;

// Every handler runs behind the guard, so that no error crosses the event loop.
void TGenerator::BindHandlers() {
    auto G = [this](void (TGenerator::*Method)()) {
        return [this, Method] { GuardHandler([this, Method] { (this->*Method)(); }); };
    };
    Ui::TGenerator* U = ui.get();

    connect(U->AddOscButton, &QPushButton::clicked, this, G(&TGenerator::AddOscButtonClick));
    connect(U->AddOscillator1, &QAction::triggered, this, G(&TGenerator::AddOscButtonClick));
    connect(U->btnRemoveOsc, &QPushButton::clicked, this, G(&TGenerator::btnRemoveOscClick));
    connect(U->btnRemoveOsc, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& At) { popRemove->popup(ui->btnRemoveOsc->mapToGlobal(At)); });
    connect(U->TabControl1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& At) { popTabs->popup(ui->TabControl1->mapToGlobal(At)); });
    for (QAction* A : {U->Osc21, U->Osc31})
        connect(A, &QAction::triggered, this, [this, A] { GuardHandler([this, A] { RemoveClick(A); }); });
    for (QAction* A : popRemove->actions())
        connect(A, &QAction::triggered, this, [this, A] { GuardHandler([this, A] { RemoveClick(A); }); });
    connect(Closethistab1, &QAction::triggered, this,
            [this] { GuardHandler([this] { RemoveClick(Closethistab1); }); });
    connect(U->TabControl1->TabBar(), &QTabBar::currentChanged, this, [this](int) {
        if (!FSelectingTab)
            GuardHandler([this] { TabControl1Change(); });
    });
    connect(U->WaveForm, &QComboBox::activated, this, G(&TGenerator::WaveFormChange));
    connect(U->WaveDevice, &QComboBox::activated, this, G(&TGenerator::WaveDeviceChange));

    // entry fields: OnChange is a change of the text; OnEnter and OnExit come from the event filter
    connect(U->fInit, &QLineEdit::textChanged, this, G(&TGenerator::fInitExit));
    connect(U->fFinal, &QLineEdit::textChanged, this, G(&TGenerator::fFinalExit));
    connect(U->fSummand, &QLineEdit::textChanged, this, G(&TGenerator::fSummandExit));
    connect(U->fFactor, &QLineEdit::textChanged, this, G(&TGenerator::fFactorChange));
    connect(U->PhaseEdit, &QLineEdit::textChanged, this, G(&TGenerator::PhaseEditChange));
    connect(U->txtAInit, &QLineEdit::textChanged, this, G(&TGenerator::txtAInitChange));
    connect(U->aFinal, &QLineEdit::textChanged, this, G(&TGenerator::aFinalChange));
    for (QLineEdit* E : {U->fInit, U->fFinal, U->fSummand, U->fFactor, U->txtAInit})
        E->installEventFilter(this);

    // check boxes store at every change of their state, from code too
    connect(U->Logarithmic, &QCheckBox::toggled, this, G(&TGenerator::LogarithmicClick));
    connect(U->Bidirectional, &QCheckBox::toggled, this, G(&TGenerator::BidirectionalClick));
    connect(U->LeftTick, &QCheckBox::toggled, this, G(&TGenerator::LeftTickClick));
    connect(U->RightTick, &QCheckBox::toggled, this, G(&TGenerator::RightTickClick));
    for (TRadioButton* R : {U->RadioIndependent, U->RadioAdd, U->RadioMultiply})
        connect(R, &TRadioButton::MouseUp, this, G(&TGenerator::RadioIndependentMouseUp));

    // playback
    connect(U->btnON, &QPushButton::clicked, this, G(&TGenerator::btnONClick));
    connect(U->btnOFF, &QPushButton::clicked, this, G(&TGenerator::btnOFFClick));
    connect(U->btnPause, &QPushButton::clicked, this, G(&TGenerator::btnPauseClick));
    connect(U->OnOff1, &QAction::triggered, this, G(&TGenerator::OnOff1Click));

    // menus
    connect(U->OpenToneSettings1, &QAction::triggered, this, G(&TGenerator::OpenToneSettings1Click));
    connect(U->SaveToneSettings1, &QAction::triggered, this, G(&TGenerator::SaveToneSettings1Click));
    connect(U->SaveToneasWave1, &QAction::triggered, this, G(&TGenerator::SaveToneasWave1Click));
    connect(U->CompatibilitySettings1, &QAction::triggered, this, G(&TGenerator::CompatibilitySettings1Click));
    connect(U->Exit1, &QAction::triggered, this, G(&TGenerator::Exit1Click));
    connect(U->Help2, &QAction::triggered, this, G(&TGenerator::Help2Click));
    connect(U->About1, &QAction::triggered, this, G(&TGenerator::About1Click));

    // memories
    QPushButton* MemButtons[4] = {U->Mem1, U->Mem2, U->Memory3, U->Memory4};
    for (int I = 0; I < 4; ++I) {
        const int No = I + 1;
        QPushButton* B = MemButtons[I];
        QMenu* Menu = PopupMenus[I];
        connect(B, &QPushButton::clicked, this, [this, No] { GuardHandler([this, No] { MemRecallClick(No); }); });
        connect(B, &QWidget::customContextMenuRequested, this,
                [B, Menu](const QPoint& At) { Menu->popup(B->mapToGlobal(At)); });
        connect(Menu->actions().at(0), &QAction::triggered, this,
                [this, No] { GuardHandler([this, No] { MemStore(No); }); });
        connect(Menu->actions().at(1), &QAction::triggered, this,
                [this, No] { GuardHandler([this, No] { RenameClick(No); }); });
    }
}

// ---- start-up and life cycle

void TGenerator::FormCreate() {
    for (int I = 0; I < 5; ++I)
        WaveBitmaps[I] = QPixmap(QStringLiteral(":/bitmaps/") + QString::fromLatin1(BitmapNames[I]), "BMP");

    for (int I = 0; I < 5; ++I)
        ui->WaveForm->addItem(str::Q(str::WaveNames[I]), QVariant::fromValue(WaveBitmaps[I]));

    HelpFilePath = LocateHelpFile(QCoreApplication::applicationDirPath());

    TabImages.assign(3, WaveBitmaps[0]);
    ApplyTabImages();
    ui->WaveForm->setCurrentIndex(0);

    wave::IWaveOutDriver& Driver = wave::DefaultWaveOutDriver();
    const uint32_t Count = Driver.GetNumDevs();
    QStringList Names;
    for (uint32_t Id = 0; Id < Count; ++Id) {
        std::string Name;
        // a device whose name cannot be read keeps its place, so that index and id stay equal
        if (Driver.GetDevCaps(Id, Name) == wave::MMSYSERR_NOERROR)
            Names << QString::fromStdString(Name);
        else
            Names << str::Q(str::NoDeviceName);
    }
    ui->WaveDevice->clear();
    ui->WaveDevice->addItems(Names);
    ui->WaveDevice->setCurrentIndex(Names.isEmpty() ? -1 : 0);
    AudioOut1->SetWaveDevice(static_cast<uint32_t>(ui->WaveDevice->currentIndex()));

    if (Count == 0) {
        TMessageBoxes::ShowMessage(str::Q(str::NoSoundcard));
        ui->btnON->setEnabled(false);
        ui->OnOff1->setEnabled(false);
    }

    for (int No = 1; No <= TMemoryBank::kCount; ++No)
        Memories[No].SetName(AnsiFromText(str::Q(str::MemoryPrefix) + QString::number(No)));
}

void TGenerator::FormActivate() {
    const QString Title = str::Q(str::TitleWithBlank) + str::Q(str::Version);
    setWindowTitle(Title);
    TMessageBoxes::SetApplicationTitle(Title);
}

void TGenerator::FormClose() {
    // the device must hand every buffer back before the window and its output go
    AudioOut1->StopAtOnce();
    TRegistry Reg;
    const QString Key = str::Q(str::RegistryKey);
    const QString Name = str::Q(str::RegWaveDevice);
    if (!Reg.OpenKey(Key, true))
        throw ERegistryException(str::Q(str::FailedToSetData).replace("%s", Name).toStdString());
    Reg.WriteInteger(Name, ui->WaveDevice->currentIndex());
    Reg.CloseKey();
}

void TGenerator::Exit1Click() { close(); }

void TGenerator::WaveDeviceChange() {
    AudioOut1->SetWaveDevice(static_cast<uint32_t>(ui->WaveDevice->currentIndex()));
}

void TGenerator::CompatibilitySettings1Click() {
    ApplicationHelpFile() = HelpFilePath;
    AudioOut1->StopAtOnce();
    setEnabled(false);
    if (frmSettings)
        ShowOver(*frmSettings, *this);
}

bool TGenerator::event(QEvent* E) {
    if (E->type() == QEvent::WindowActivate)
        GuardHandler([this] { FormActivate(); });
    return QMainWindow::event(E);
}

void TGenerator::closeEvent(QCloseEvent* E) {
    GuardHandler([this] { FormClose(); });
    E->accept();
    emit Closed();
}

void TGenerator::keyPressEvent(QKeyEvent* E) {
    // ON is the default button, except while a memory's new name is typed
    if (!PressButtonForEnter(*this, *E))
        QMainWindow::keyPressEvent(E);
}

bool TGenerator::eventFilter(QObject* Watched, QEvent* E) {
    if (E->type() == QEvent::FocusIn && IsFocusEventOfTheWindow(E)) {
        if (Watched == ui->fSummand)
            GuardHandler([this] { fSummandEnter(); });
        else if (Watched == ui->fFactor)
            GuardHandler([this] { fFactorEnter(); });
    } else if (E->type() == QEvent::FocusOut && IsFocusEventOfTheWindow(E)) {
        if (Watched == ui->fInit)
            GuardHandler([this] { fInitExit(); });
        else if (Watched == ui->fFinal)
            GuardHandler([this] { fFinalExit(); });
        else if (Watched == ui->fSummand)
            GuardHandler([this] { fSummandExit(); });
        else if (Watched == ui->fFactor)
            GuardHandler([this] { fFactorChange(); });
        else if (Watched == ui->txtAInit)
            GuardHandler([this] { txtAInitExit(); });
    }
    return QMainWindow::eventFilter(Watched, E);
}

// ---- tabs

int TGenerator::TabIndex() const { return ui->TabControl1->TabIndex(); }
int TGenerator::TabCount() const { return ui->TabControl1->TabBar()->count(); }

void TGenerator::SelectTab(int Index) {
    FSelectingTab = true;
    ui->TabControl1->TabBar()->setCurrentIndex(Index);
    FSelectingTab = false;
}

void TGenerator::ApplyTabImages() {
    QTabBar* Tabs = ui->TabControl1->TabBar();
    for (int I = 0; I < Tabs->count(); ++I)
        Tabs->setTabIcon(I, I < static_cast<int>(TabImages.size()) ? QIcon(TabImages[I]) : QIcon());
}

void TGenerator::AddRemoveItems(const QString& Caption) {
    for (QMenu* Menu : {ui->RemoveOscillator1, popRemove}) {
        QAction* A = Menu->addAction(Caption);
        connect(A, &QAction::triggered, this, [this, A] { GuardHandler([this, A] { RemoveClick(A); }); });
    }
}

// An entry still open in a value field ends on the tab where it was typed,
// before code selects another tab.
void TGenerator::CommitPendingEntry() {
    if (!isEnabled())
        return;
    if (ui->btnON->isEnabled() && ui->btnON->isVisible())
        ui->btnON->setFocus();
    else if (QWidget* Focused = focusWidget(); Focused && Focused != ui->btnON)
        Focused->clearFocus();
}

void TGenerator::AddOscButtonClick() {
    if (Synth.OscCount >= TSynth::kMaxOscillators)
        return;
    CommitPendingEntry();
    Synth.OscCount = Synth.OscCount + 1;
    Synth.LastOsc = Synth.OscCount - 1;
    const QString Caption = str::Q(str::OscPrefix) + QString::number(Synth.OscCount);
    FSelectingTab = true;
    ui->TabControl1->TabBar()->addTab(Caption);
    FSelectingTab = false;
    TabImages.push_back(WaveBitmaps[0]);
    ApplyTabImages();
    AddRemoveItems(Caption);
    SelectTab(TabCount() - 1);
    TabControl1Change();
}

void TGenerator::RemoveClick(QAction* Sender) {
    const int T = TabCount();
    CommitPendingEntry();
    SelectTab(0);
    TabControl1Change();
    if (T <= 1)
        return;  // the first oscillator stays

    const int N = OscNumberOf(Sender);
    if (N >= 2 && N <= T)
        for (int J = N; J <= T; ++J)
            Synth.Oscillators[J - 1] = Synth.Oscillators[J];

    for (QMenu* Menu : {ui->RemoveOscillator1, popRemove}) {
        const QList<QAction*> Items = Menu->actions();
        if (!Items.isEmpty()) {
            QAction* Last = Items.last();
            Menu->removeAction(Last);
            Last->deleteLater();  // it may be the item whose handler runs now
        }
    }

    FSelectingTab = true;
    ui->TabControl1->TabBar()->removeTab(T - 1);
    FSelectingTab = false;
    Synth.OscCount = Synth.OscCount - 1;
    Synth.LastOsc = Synth.OscCount - 1;

    TabImages.clear();
    for (int I = 0; I < TabCount(); ++I) {
        const int Shown = ui->WaveForm->currentIndex();
        TabImages.push_back(Shown >= 0 && Shown < 5 ? WaveBitmaps[Shown] : QPixmap());
        ApplyTabImages();
        SelectTab(I);
        TabControl1Change();
    }
}

QPoint TGenerator::RemovePopupPoint() const {
    const QRect Frame = frameGeometry();
    const QWidget* Client = ui->centralwidget;
    const QPushButton* B = ui->btnRemoveOsc;
    return QPoint(Frame.left() + (Frame.width() - Client->width()) + B->x() + B->width() / 2,
                  Frame.top() + (Frame.height() - Client->height()) + B->y() + B->height() / 2);
}

void TGenerator::btnRemoveOscClick() { popRemove->popup(RemovePopupPoint()); }

QString TGenerator::GeneralText(long double Value, int Precision) const {
    return QString::fromStdString(FormatGeneral(Value, Precision, LocaleDecimalSeparator()));
}

void TGenerator::SetRelationControlsVisible(bool Visible) {
    ui->RadioAdd->setVisible(Visible);
    ui->RadioMultiply->setVisible(Visible);
    ui->fSummand->setVisible(Visible);
    ui->fFactor->setVisible(Visible);
    ui->Label1->setVisible(Visible);
}

void TGenerator::TabControl1Change() {
    CommitPendingEntry();
    SetRelationControlsVisible(TabIndex() != 0);

    const TOscRecord& R = Synth.Oscillators[static_cast<size_t>(TabIndex())];
    ui->fInit->setText(GeneralText(R.FreqInit));
    ui->fFinal->setText(GeneralText(R.FreqFinal));
    SetRadioChecked(ui->RadioIndependent, R.ModeIndependent != 0);
    ui->Logarithmic->setChecked(R.LogSweep != 0);
    ui->Bidirectional->setChecked(R.BiDir != 0);
    SetRadioChecked(ui->RadioAdd, R.ModeAdd != 0);
    ui->fSummand->setText(GeneralText(R.Summand));
    SetRadioChecked(ui->RadioMultiply, R.ModeMultiply != 0);
    ui->fFactor->setText(GeneralText(R.Factor));
    ui->LeftTick->setChecked(R.LeftOn != 0);
    ui->RightTick->setChecked(R.RightOn != 0);
    ui->PhaseEdit->setText(GeneralText(R.PhaseDeg));
    const bool KnownWave = R.WaveKind >= 0 && R.WaveKind < 5;
    ui->WaveForm->setCurrentIndex(KnownWave ? R.WaveKind : -1);
    WaveFormChange();

    // a gain without a decibel value (zero, from the bank's spare record) shows the floor
    const long double Gain = R.GainInit;
    QString Db;
    if (!(Gain > 0))
        Db = QStringLiteral("-100");
    else if (std::isinf(Gain))
        Db = QStringLiteral("0");
    else
        Db = GeneralText(20.0L * std::log10(Gain), 7);
    ui->txtAInit->setText(Db);

    // the final gain is shown as the plain number it holds; a load never converts
    // it as decibels, so a value from elsewhere is kept as it came
    FLoadingGainFinal = true;
    ui->aFinal->setText(GeneralText(R.GainFinal));
    FLoadingGainFinal = false;
}

void TGenerator::SetFrequencyControlsVisible(bool Visible) {
    Ui::TGenerator* U = ui.get();
    if (!Visible) {
        for (QWidget* W : std::initializer_list<QWidget*>{U->Panel2, U->RadioIndependent, U->Label1, U->Label14,
                                                          U->Label16, U->fInit, U->fFinal, U->Logarithmic,
                                                          U->Bidirectional, U->RadioAdd, U->RadioMultiply,
                                                          U->fSummand, U->fFactor, U->UpDown7, U->UpDown8,
                                                          U->Panel1})
            W->setVisible(false);
        return;
    }
    for (QWidget* W :
         std::initializer_list<QWidget*>{U->Panel2, U->RadioIndependent, U->Label14, U->Label16, U->fInit,
                                         U->fFinal, U->Logarithmic, U->Bidirectional, U->UpDown7, U->UpDown8,
                                         U->Panel1})
        W->setVisible(true);
    SetRelationControlsVisible(TabIndex() != 0);
}

void TGenerator::WaveFormChange() {
    const int I = TabIndex();
    const int K = ui->WaveForm->currentIndex();
    if (K >= 0 && K < 5) {
        Synth.Oscillators[static_cast<size_t>(I)].WaveKind = K;
        if (I >= 0 && I < static_cast<int>(TabImages.size())) {
            TabImages[static_cast<size_t>(I)] = WaveBitmaps[static_cast<size_t>(K)];
            ApplyTabImages();
        }
    }
    // an unknown waveform code selects nothing and stays in the record as it is
    const bool Noise = ui->WaveForm->currentText().contains(str::Q(str::NoiseMark), Qt::CaseInsensitive);
    SetFrequencyControlsVisible(!Noise);
}

void TGenerator::WaveFormDrawItem(QPainter& Canvas, int Index, const QRect& Rect, bool Selected) {
    const QPalette& Pal = ui->WaveForm->palette();
    Canvas.fillRect(Rect, Pal.color(Selected ? QPalette::Highlight : QPalette::Base));
    int TextLeft = Rect.left() + 24;
    const QPixmap Picture = ui->WaveForm->itemData(Index, Qt::UserRole).value<QPixmap>();
    if (!Picture.isNull()) {
        QPixmap Shown = Picture;
        Shown.setMask(Picture.createMaskFromColor(Qt::red, Qt::MaskInColor));
        Canvas.drawPixmap(Rect.left() + 2, Rect.top() + 2, Shown);
        TextLeft = Rect.left() + Picture.width() + 8;
    }
    Canvas.setPen(Pal.color(Selected ? QPalette::HighlightedText : QPalette::Text));
    Canvas.setFont(ui->WaveForm->font());
    Canvas.drawText(QRect(TextLeft, Rect.top() + 2, Rect.right() - TextLeft + 1, Rect.height() - 2),
                    Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, ui->WaveForm->itemText(Index));
}

// ---- parameter entry

double TGenerator::IntlStrToFloat(const QString& Str) const {
    return zelvo::IntlStrToFloat(Str.toStdString(), LocaleDecimalSeparator());
}

void TGenerator::StoreNumber(QLineEdit* Edit, void (*Store)(TOscRecord&, float), bool Decibel) {
    const int I = TabIndex();  // the record is chosen before the text is read
    long double V = IntlStrToFloat(Edit->text());
    if (Decibel)
        V = std::pow(10.0L, V / 20.0L);
    Store(Synth.Oscillators[static_cast<size_t>(I)], StoreF32(V));
}

// The record is packed: its fields are written by name, never through a float
// pointer, which would assume an alignment that Summand and Factor lack.
void TGenerator::fInitExit() {
    StoreNumber(ui->fInit, [](TOscRecord& R, float V) { R.FreqInit = V; }, false);
}

void TGenerator::fFinalExit() {
    StoreNumber(ui->fFinal, [](TOscRecord& R, float V) { R.FreqFinal = V; }, false);
}

void TGenerator::fSummandExit() {
    try {
        StoreNumber(ui->fSummand, [](TOscRecord& R, float V) { R.Summand = V; }, false);
    } catch (...) {
    }
}

void TGenerator::fFactorChange() {
    try {
        StoreNumber(ui->fFactor, [](TOscRecord& R, float V) { R.Factor = V; }, false);
    } catch (...) {
    }
}

void TGenerator::PhaseEditChange() {
    try {
        StoreNumber(ui->PhaseEdit, [](TOscRecord& R, float V) { R.PhaseDeg = V; }, false);
    } catch (...) {
    }
}

void TGenerator::txtAInitChange() {
    try {
        StoreNumber(ui->txtAInit, [](TOscRecord& R, float V) { R.GainInit = V; }, true);
    } catch (...) {
    }
}

void TGenerator::txtAInitExit() {
    const std::string Text = NormalizeNumberText(ui->txtAInit->text().toStdString(), -100.0f, 0.0f, 0.0f, 0.0f,
                                                 LocaleDecimalSeparator());
    ui->txtAInit->setText(QString::fromStdString(Text));
}

void TGenerator::aFinalChange() {
    if (FLoadingGainFinal)
        return;
    try {
        StoreNumber(ui->aFinal, [](TOscRecord& R, float V) { R.GainFinal = V; }, true);
    } catch (...) {
    }
}

void TGenerator::LogarithmicClick() { Synth.Oscillators[TabIndex()].LogSweep = ui->Logarithmic->isChecked(); }
void TGenerator::BidirectionalClick() { Synth.Oscillators[TabIndex()].BiDir = ui->Bidirectional->isChecked(); }
void TGenerator::LeftTickClick() { Synth.Oscillators[TabIndex()].LeftOn = ui->LeftTick->isChecked(); }
void TGenerator::RightTickClick() { Synth.Oscillators[TabIndex()].RightOn = ui->RightTick->isChecked(); }

void TGenerator::StoreMode() {
    TOscRecord& R = Synth.Oscillators[static_cast<size_t>(TabIndex())];
    R.ModeIndependent = ui->RadioIndependent->isChecked();
    R.ModeAdd = ui->RadioAdd->isChecked();
    R.ModeMultiply = ui->RadioMultiply->isChecked();
}

void TGenerator::RadioIndependentMouseUp() { StoreMode(); }

void TGenerator::fSummandEnter() {
    SetRadioChecked(ui->RadioAdd, true);
    StoreMode();
}

void TGenerator::fFactorEnter() {
    SetRadioChecked(ui->RadioMultiply, true);
    StoreMode();
}

} // namespace zelvo
