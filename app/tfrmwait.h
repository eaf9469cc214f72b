#pragma once
// The progress dialog of the WAV export, created hidden at start-up. It is the
// writer's host: it shows the progress, offers Cancel, and keeps the main window
// disabled while the file is written.
#include <QWidget>
#include <memory>

#include "synth/wav_writer.h"

namespace Ui {
class TfrmWait;
}

namespace zelvo {

class TfrmWait : public QWidget, public TWaveExportHost {
    Q_OBJECT
public:
    // MainWindow is the window that the export takes away and gives back.
    explicit TfrmWait(QWidget& MainWindow, QWidget* Parent = nullptr);
    ~TfrmWait() override;

    std::unique_ptr<Ui::TfrmWait> ui;
    bool ExportCancel = false;

    void BeginExport() override;
    void ShowProgress(int Percent) override;
    bool CancelRequested() override;
    void EndExport(TExportOutcome Outcome) override;
    void WaitForTarget() override;

    void Button1Click();
    void FormCreate() {}

protected:
    void keyPressEvent(QKeyEvent* E) override;
    void closeEvent(QCloseEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;

private:
    QWidget& FMainWindow;
    bool FExporting = false;
};

} // namespace zelvo
