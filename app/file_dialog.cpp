#include "app/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>

#include "files/file_replacement.h"

namespace zelvo {
namespace {

TOpenDialog::THook& OpenHook() {
    static TOpenDialog::THook H;
    return H;
}

TSaveDialog::THook& SaveHook() {
    static TSaveDialog::THook H;
    return H;
}

// The toolkit's own dialog, with the extension and the question about
// replacing decided by ChooseFileName. A native dialog would decide both on
// the name as typed, before the program has a say.
class TQtFileDialog : public QFileDialog {
public:
    TQtFileDialog(QWidget* Owner, const QString& Title, const QString& DefaultExt, bool OverwritePrompt)
        : QFileDialog(Owner, Title), FDefaultExt(DefaultExt), FOverwritePrompt(OverwritePrompt) {
        setOption(QFileDialog::DontUseNativeDialog);
    }

    void accept() override {
        // no default suffix is set here, so this is the name as typed or picked
        const QStringList Typed = selectedFiles();
        if (Typed.size() == 1) {
            const TChosenName Chosen = ChooseFileName(Typed.constFirst(), FDefaultExt);
            setDefaultSuffix(Chosen.Path == Typed.constFirst() ? QString() : FDefaultExt);
            setOption(QFileDialog::DontConfirmOverwrite, !FOverwritePrompt || !Chosen.ReplacesAFile);
        }
        QFileDialog::accept();  // goes into a folder, asks, or takes the name
        setDefaultSuffix(QString());
    }

private:
    QString FDefaultExt;
    bool FOverwritePrompt;
};

} // namespace

TChosenName ChooseFileName(const QString& Typed, const QString& DefaultExt) {
    const auto Kind = [](const QString& Path) { return ResolveFileTarget(QFile::encodeName(Path).toStdString()); };
    TChosenName Chosen{Typed};
    const TFileTarget AsTyped = Kind(Typed);
    const bool SomethingElse = !AsTyped.Error && AsTyped.Kind != TFileKind::fkMissing &&
                               AsTyped.Kind != TFileKind::fkRegular;
    if (!DefaultExt.isEmpty() && !Typed.isEmpty() && !QFileInfo(Typed).fileName().contains(QLatin1Char('.')) &&
        !SomethingElse)
        Chosen.Path += QLatin1Char('.') + DefaultExt;
    const TFileTarget Final = Chosen.Path == Typed ? AsTyped : Kind(Chosen.Path);
    Chosen.ReplacesAFile = !Final.Error && Final.Kind == TFileKind::fkRegular;
    return Chosen;
}

bool TFileDialog::Run(QWidget* Owner, bool Save, bool OverwritePrompt,
                      const std::function<std::optional<QString>()>& Hook) {
    std::optional<QString> Chosen;
    if (Hook) {
        Chosen = Hook();
        if (Chosen)
            Chosen = ChooseFileName(*Chosen, DefaultExt).Path;
    } else {
        TQtFileDialog Dialog(Owner, Title, DefaultExt, OverwritePrompt);
        Dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // an open takes a typed name of a missing file too; the reader then says so
        Dialog.setFileMode(QFileDialog::AnyFile);
        Dialog.setNameFilter(Filter);
        const QFileInfo Proposed(FileName);
        const QString Folder = Proposed.isAbsolute() ? Proposed.absolutePath()
                               : FLastFolder.isEmpty() ? QDir::homePath()
                                                       : FLastFolder;
        Dialog.setDirectory(Folder);
        if (Save)
            Dialog.selectFile(Proposed.fileName());
        // the name as the dialog took it: asked afterwards, it would lose its extension
        QString Taken;
        QObject::connect(&Dialog, &QFileDialog::fileSelected, [&Taken](const QString& Name) { Taken = Name; });
        if (Dialog.exec() == QDialog::Accepted)
            Chosen = Taken;
    }
    if (!Chosen || Chosen->isEmpty())
        return false;
    FileName = *Chosen;
    FLastFolder = QFileInfo(FileName).absolutePath();
    return true;
}

void TOpenDialog::SetHook(THook H) { OpenHook() = std::move(H); }

bool TOpenDialog::Execute(QWidget* Owner) {
    std::function<std::optional<QString>()> Hook;
    if (OpenHook())
        Hook = [this] { return OpenHook()(*this); };
    return Run(Owner, false, false, Hook);
}

void TSaveDialog::SetHook(THook H) { SaveHook() = std::move(H); }

bool TSaveDialog::Execute(QWidget* Owner) {
    std::function<std::optional<QString>()> Hook;
    if (SaveHook())
        Hook = [this] { return SaveHook()(*this); };
    return Run(Owner, true, OverwritePrompt, Hook);
}

} // namespace zelvo
