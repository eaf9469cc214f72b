#pragma once
// The about box, created hidden at start-up: name, version, the maker's notice
// and home page, Help and OK. While it shows, the main window is disabled.
#include <QIcon>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class TfrmAbout;
}

namespace zelvo {

class TGenerator;

// The program's icon (32 x 32, 16 colours), also every window's icon.
QIcon ProgramIcon();

class TfrmAbout : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAbout(TGenerator& Generator, QWidget* Parent = nullptr);
    ~TfrmAbout() override;

    std::unique_ptr<Ui::TfrmAbout> ui;

    void FormCreate();
    void FormShow();
    void FormClose();
    void HomepageClick();
    void AboutHelpClick();
    void OKButtonClick();

    // Tests see the address instead of the desktop opening it; an empty hook
    // brings the desktop back.
    using TOpenUrlHook = std::function<void(const QUrl& Url)>;
    static void SetOpenUrlHook(TOpenUrlHook Hook);

protected:
    void showEvent(QShowEvent* E) override;
    void closeEvent(QCloseEvent* E) override;
    void keyPressEvent(QKeyEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;

private:
    TGenerator& FGenerator;
};

} // namespace zelvo
