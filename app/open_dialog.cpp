#include "app/open_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace zelvo {
namespace {

TOpenDialog::THook& Hook() {
    static TOpenDialog::THook H;
    return H;
}

} // namespace

void TOpenDialog::SetHook(THook H) { Hook() = std::move(H); }

bool TOpenDialog::Execute(QWidget* Owner) {
    std::optional<QString> Chosen;
    if (Hook()) {
        Chosen = Hook()(*this);
    } else {
        QFileDialog Dialog(Owner, Title);
        Dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // a typed name of a missing file is taken; the reader then says so
        Dialog.setFileMode(QFileDialog::AnyFile);
        Dialog.setNameFilter(Filter);
        Dialog.setDefaultSuffix(DefaultExt);
        Dialog.setDirectory(FLastFolder.isEmpty() ? QDir::homePath() : FLastFolder);
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
