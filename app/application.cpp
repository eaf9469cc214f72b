#include "app/application.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <sys/stat.h>

#include "app/message_box.h"
#include "app/tfrmabout.h"
#include "app/tfrmsettings.h"
#include "app/tfrmwait.h"
#include "app/tgenerator.h"

namespace zelvo {

void InitToolkit() {
    // the layout's fixed geometry is drawn for the classic look: group captions on
    // the frame line, two-pixel sunken edits
    QApplication::setStyle(QStringLiteral("Windows"));
    // The layout asks for the classic 8-point dialog font; Liberation Sans has
    // Arial's metrics, which fit the fixed geometry.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
    InstallErrorBox();
}

TApplication::TApplication(std::vector<std::string> Arguments) {
    if (Arguments.size() > 1)
        CommandLinePath = std::move(Arguments[1]);
}

static std::vector<std::string> ArgumentBytes(const QStringList& Arguments) {
    std::vector<std::string> Bytes;
    for (const QString& A : Arguments)
        Bytes.push_back(QFile::encodeName(A).toStdString());
    return Bytes;
}

TApplication::TApplication(const QStringList& Arguments) : TApplication(ArgumentBytes(Arguments)) {}

TApplication::~TApplication() {
    // the dialogs refer to the main window: they go first
    frmWait.reset();
    frmSettings.reset();
    frmAbout.reset();
    Generator.reset();
}

void TApplication::Start() {
    Generator = std::make_unique<TGenerator>(Synth, Memories);
    QApplication::setWindowIcon(ProgramIcon());
    frmAbout = std::make_unique<TfrmAbout>(*Generator);
    Generator->frmAbout = frmAbout.get();
    frmSettings = std::make_unique<TfrmSettings>(*Generator, Synth);
    Generator->frmSettings = frmSettings.get();
    frmWait = std::make_unique<TfrmWait>(*Generator);
    Generator->frmWait = frmWait.get();

    if (IsPresetArgument(CommandLinePath))
        Generator->LoadSettings(CommandLinePath);
}

bool TApplication::IsPresetArgument(const std::string& Path) {
    if (Path.find(".zvo") == std::string::npos)
        return false;
    struct stat St;
    return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

int TApplication::Run() {
    QObject::connect(Generator.get(), &TGenerator::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    Generator->show();
    return QApplication::exec();
}

} // namespace zelvo
