#include "app/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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

} // namespace

bool TFileDialog::Run(QWidget* Owner, bool Save, bool OverwritePrompt,
                      const std::function<std::optional<QString>()>& Hook) {
    std::optional<QString> Chosen;
    if (Hook) {
        Chosen = Hook();
    } else {
        QFileDialog Dialog(Owner, Title);
        Dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // an open takes a typed name of a missing file too; the reader then says so
        Dialog.setFileMode(QFileDialog::AnyFile);
        Dialog.setNameFilter(Filter);
        Dialog.setDefaultSuffix(DefaultExt);
        Dialog.setOption(QFileDialog::DontConfirmOverwrite, !OverwritePrompt);
        const QFileInfo Proposed(FileName);
        const QString Folder = Proposed.isAbsolute() ? Proposed.absolutePath()
                               : FLastFolder.isEmpty() ? QDir::homePath()
                                                       : FLastFolder;
        Dialog.setDirectory(Folder);
        if (Save)
            Dialog.selectFile(Proposed.fileName());
        if (Dialog.exec() == QDialog::Accepted && !Dialog.selectedFiles().isEmpty())
            Chosen = Dialog.selectedFiles().constFirst();
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
