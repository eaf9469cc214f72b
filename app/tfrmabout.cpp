#include "app/tfrmabout.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>

#include "app/dialog_window.h"
#include "app/strings.h"
#include "app/tgenerator.h"
#include "app/widgets.h"
#include "platform/error_sink.h"
#include "platform/html_help.h"
#include "ui_tfrmabout.h"

namespace zelvo {
namespace {

constexpr int kAboutHelpContext = 3;

TfrmAbout::TOpenUrlHook& OpenUrlHook() {
    static TfrmAbout::TOpenUrlHook H;
    return H;
}

} // namespace

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/icons/zelvo.ico")); }

void TfrmAbout::SetOpenUrlHook(TOpenUrlHook Hook) { OpenUrlHook() = std::move(Hook); }

TfrmAbout::TfrmAbout(TGenerator& Generator, QWidget* Parent)
    : QWidget(Parent), ui(std::make_unique<Ui::TfrmAbout>()), FGenerator(Generator) {
    ui->setupUi(this);
    setObjectName(QStringLiteral("frmAbout"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(11);
    setFont(F);
    QFont Notice = F;
    Notice.setPixelSize(12);
    Notice.setBold(true);
    ui->Copyright->setFont(Notice);
    QFont Link = F;
    Link.setPixelSize(12);
    Link.setUnderline(true);
    ui->Homepage->setFont(Link);
    QPalette Blue = ui->Homepage->palette();
    Blue.setColor(QPalette::WindowText, Qt::blue);
    ui->Homepage->setPalette(Blue);
    ui->Homepage->installEventFilter(this);
    // the labels size themselves to their font, whatever font stands in for the layout's
    for (QLabel* L : {ui->ProductName, ui->Version, ui->Copyright})
        L->resize(L->width(), std::max(L->height(), L->fontMetrics().height()));
    setFixedSize(356, 377);
    move(496, 167);
    TieToMainWindow(*this, Generator);

    ui->ProgramIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    ui->OKButton->setFocus();

    auto G = [this](void (TfrmAbout::*Method)()) {
        return [this, Method] { GuardHandler([this, Method] { (this->*Method)(); }); };
    };
    connect(ui->AboutHelp, &QPushButton::clicked, this, G(&TfrmAbout::AboutHelpClick));
    connect(ui->OKButton, &QPushButton::clicked, this, G(&TfrmAbout::OKButtonClick));

    FormCreate();
}

TfrmAbout::~TfrmAbout() = default;

void TfrmAbout::FormCreate() { ApplicationHelpFile() = FGenerator.HelpFilePath; }

void TfrmAbout::FormShow() { ui->Version->setText(str::Q(str::VersionPrefix) + str::Q(str::Version)); }

void TfrmAbout::FormClose() {
    FGenerator.setEnabled(true);
    FGenerator.activateWindow();
}

void TfrmAbout::HomepageClick() {
    // the label's own text is the address, whatever it holds; a failure is not reported
    const QUrl Url = QUrl::fromUserInput(ui->Homepage->text());
    if (OpenUrlHook())
        OpenUrlHook()(Url);
    else
        QDesktopServices::openUrl(Url);
}

void TfrmAbout::AboutHelpClick() { HtmlHelpContext(this, ApplicationHelpFile(), kAboutHelpContext); }

void TfrmAbout::OKButtonClick() { close(); }

void TfrmAbout::showEvent(QShowEvent* E) {
    QWidget::showEvent(E);
    if (!E->spontaneous())
        GuardHandler([this] { FormShow(); });
}

void TfrmAbout::closeEvent(QCloseEvent* E) {
    GuardHandler([this] { FormClose(); });
    E->accept();
}

void TfrmAbout::keyPressEvent(QKeyEvent* E) {
    switch (E->key()) {
    case Qt::Key_F1:
        GuardHandler([this] { AboutHelpClick(); });
        return;
    default:
        // OK is the default button; nothing answers Escape
        if (!PressButtonForEnter(*this, *E))
            QWidget::keyPressEvent(E);
    }
}

bool TfrmAbout::eventFilter(QObject* Watched, QEvent* E) {
    if (Watched == ui->Homepage && E->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(E)->button() == Qt::LeftButton &&
        ui->Homepage->rect().contains(static_cast<QMouseEvent*>(E)->position().toPoint())) {
        GuardHandler([this] { HomepageClick(); });
        return true;
    }
    return QWidget::eventFilter(Watched, E);
}

} // namespace zelvo
