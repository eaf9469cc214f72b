// A look into the installed program without changing it: Qt loads this
// plug-in into any Qt program whose environment names it in
// QT_QPA_GENERIC_PLUGINS (with QT_PLUGIN_PATH pointing here). Once the program
// runs its message loop, the probe writes what a user would see to standard
// output, one "what: value" line each, then closes the program:
//   box: <text>          a message box, answered with OK
//   button: <caption>    each button of the main window
//   help file: <path>    the help file the program holds open after F1
//   help topic: <path>   the page the help window shows
// The probe gives up after 20 seconds and ends the program with exit code 3.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QGenericPlugin>
#include <QMainWindow>
#include <QMessageBox>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>

namespace {

void Say(const char* What, const QString& Value) {
    std::printf("%s: %s\n", What, qPrintable(Value));
    std::fflush(stdout);
}

template <class T>
T* VisibleTopLevel(const char* ClassName) {
    for (QWidget* W : QApplication::topLevelWidgets())
        if (W->isVisible() && W->inherits(ClassName))
            return static_cast<T*>(W);
    return nullptr;
}

// The help viewer keeps its file open while it shows a page of it.
QString OpenHelpFile() {
    const QFileInfoList Fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo& Fd : Fds)
        if (Fd.symLinkTarget().endsWith(QLatin1String(".chm")))
            return Fd.symLinkTarget();
    return {};
}

class TProbe : public QObject {
public:
    TProbe() : FDeadline(20000) {
        connect(&FTimer, &QTimer::timeout, this, &TProbe::Tick);
        FTimer.start(20);
    }

private:
    enum class TStage { MainWindow, Help, Closing };

    void Tick() {
        // boxes come first: one may hold up the start-up before any window shows
        if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Say("box", Box->text());
            Box->accept();
            return;
        }
        if (FDeadline.hasExpired()) {
            Say("probe", QStringLiteral("gave up waiting at stage %1").arg(static_cast<int>(FStage)));
            QCoreApplication::exit(3);
            return;
        }
        switch (FStage) {
        case TStage::MainWindow:
            if ((FMain = VisibleTopLevel<QMainWindow>("QMainWindow"))) {
                for (const QAbstractButton* B : FMain->findChildren<QAbstractButton*>())
                    if (!B->text().isEmpty())
                        Say("button", B->text());
                // queued: a box that the request shows must not block this tick
                for (QAction* A : FMain->findChildren<QAction*>())
                    if (A->shortcut() == QKeySequence(Qt::Key_F1))
                        QMetaObject::invokeMethod(A, &QAction::trigger, Qt::QueuedConnection);
                FStage = TStage::Help;
            }
            break;
        case TStage::Help:
            if (QWidget* Help = VisibleTopLevel<QWidget>("zelvo::THelpWindow")) {
                Say("help file", OpenHelpFile());
                if (const auto* Browser = Help->findChild<QTextBrowser*>())
                    Say("help topic", Browser->source().path());
                Help->close();
                QMetaObject::invokeMethod(FMain, &QWidget::close, Qt::QueuedConnection);
                FStage = TStage::Closing;
            }
            break;
        case TStage::Closing:
            break;
        }
    }

    QTimer FTimer;
    QDeadlineTimer FDeadline;
    TStage FStage = TStage::MainWindow;
    QMainWindow* FMain = nullptr;
};

class TProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe.json")
public:
    QObject* create(const QString& Key, const QString&) override {
        return Key.compare(QLatin1String("zelvoprobe"), Qt::CaseInsensitive) == 0 ? new TProbe : nullptr;
    }
};

} // namespace

#include "probe_plugin.moc"
