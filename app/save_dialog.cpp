#include "app/save_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace zelvo {
namespace {

TSaveDialog::THook& Hook() {
    static TSaveDialog::THook H;
    return H;
}

} // namespace

void TSaveDialog::SetHook(THook H) { Hook() = std::move(H); }

bool TSaveDialog::Execute(QWidget* Owner) {
    std::optional<QString> Chosen;
    if (Hook()) {
        Chosen = Hook()(*this);
    } else {
        QFileDialog Dialog(Owner, Title);
        Dialog.setAcceptMode(QFileDialog::AcceptSave);
        Dialog.setFileMode(QFileDialog::AnyFile);
        Dialog.setNameFilter(Filter);
        Dialog.setDefaultSuffix(DefaultExt);
        Dialog.setOption(QFileDialog::DontConfirmOverwrite, !OverwritePrompt);
        const QFileInfo Proposed(FileName);
        const QString Folder = Proposed.isAbsolute() ? Proposed.absolutePath()
                               : FLastFolder.isEmpty() ? QDir::homePath()
                                                       : FLastFolder;
        Dialog.setDirectory(Folder);
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

} // namespace zelvo
