#include "app/tfrmwait.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QScreen>
#include <QThread>

#include "app/dialog_window.h"
#include "app/message_box.h"
#include "app/strings.h"
#include "ui_tfrmwait.h"

namespace zelvo {

TfrmWait::TfrmWait(QWidget& MainWindow, QWidget* Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TfrmWait>()), FMainWindow(MainWindow) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(str::Q(str::ProductTitle));
    // no close box and no system menu
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(10);
    setFont(F);
    setFixedSize(372, 108);
    TieToMainWindow(*this, MainWindow);
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    FormCreate();
}

TfrmWait::~TfrmWait() = default;

void TfrmWait::BeginExport() {
    ui->ProgressBar1->setValue(0);
    FMainWindow.setEnabled(false);
    // a window closed from outside would end the program in the middle of the file
    FMainWindow.installEventFilter(this);
    FExporting = true;
    if (QScreen* Screen = FMainWindow.screen())
        move(Screen->availableGeometry().center() - rect().center());
    show();
    BringToFront(*this);
    ui->Button1->setFocus();
    FMainWindow.repaint();
    repaint();
    QThread::msleep(100);
}

void TfrmWait::ShowProgress(int Percent) {
    if (!isVisible())
        return;
    ui->ProgressBar1->setValue(Percent);
    // the only place where the export lets the user in: repaints and Cancel
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TfrmWait::WaitForTarget() {
    // a pipe that takes no data must not freeze the window: Cancel stays live
    if (isVisible())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TfrmWait::CancelRequested() { return ExportCancel; }

void TfrmWait::EndExport(TExportOutcome Outcome) {
    if (Outcome == TExportOutcome::eoFailed)
        TMessageBoxes::ShowMessage(str::Q(str::FileAccessError));
    else if (Outcome == TExportOutcome::eoCancelled)
        ExportCancel = false;
    FExporting = false;
    FMainWindow.removeEventFilter(this);
    hide();
    FMainWindow.setEnabled(true);
    BringToFront(FMainWindow);
}

void TfrmWait::Button1Click() { ExportCancel = true; }

void TfrmWait::keyPressEvent(QKeyEvent* E) {
    // "Cancel" is the dialog's cancel button
    if (E->key() == Qt::Key_Escape && E->modifiers() == Qt::NoModifier) {
        ui->Button1->click();
        return;
    }
    QWidget::keyPressEvent(E);
}

void TfrmWait::closeEvent(QCloseEvent* E) {
    // the dialog has no close box; while the file is written only Cancel ends it
    if (FExporting)
        E->ignore();
    else
        QWidget::closeEvent(E);
}

bool TfrmWait::eventFilter(QObject* Watched, QEvent* E) {
    if (Watched == &FMainWindow && E->type() == QEvent::Close && FExporting) {
        E->ignore();
        return true;
    }
    return QWidget::eventFilter(Watched, E);
}

} // namespace zelvo
