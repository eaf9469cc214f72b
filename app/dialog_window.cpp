#include "app/dialog_window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace zelvo {
namespace {

int FitAxis(int Start, int Length, int AreaStart, int AreaLength) {
    if (Length >= AreaLength)
        return AreaStart;
    return std::clamp(Start, AreaStart, AreaStart + AreaLength - Length);
}

// The window manager's frame around a window's client area, as last seen;
// nothing for a window that has not shown yet.
QMargins FrameOf(const QWidget& Window) {
    const QRect Inner = Window.geometry();
    const QRect Outer = Window.frameGeometry();
    return {Inner.left() - Outer.left(), Inner.top() - Outer.top(), Outer.right() - Inner.right(),
            Outer.bottom() - Inner.bottom()};
}

// Watches a tied dialog and its main window.
class TDialogTie : public QObject {
public:
    TDialogTie(QWidget& Dialog, QWidget& MainWindow) : QObject(&Dialog), FDialog(Dialog), FMainWindow(MainWindow) {
        Dialog.installEventFilter(this);
        MainWindow.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* E) override {
        if (Watched == &FDialog)
            WatchDialog(E->type());
        else if (Watched == &FMainWindow)
            WatchMainWindow(E->type());
        return false;
    }

private:
    // The tie holds while the dialog shows. It is made before the dialog is
    // mapped, so that the window manager sees it from the start, and undone when
    // the dialog hides: the toolkit counts a transient window's focus as its
    // parent's, and the main window must count as active only once it is again.
    void WatchDialog(QEvent::Type Type) {
        if (Type == QEvent::Show) {
            FMainWindow.winId();
            FDialog.windowHandle()->setTransientParent(FMainWindow.windowHandle());
        } else if (Type == QEvent::Hide) {
            FDialog.windowHandle()->setTransientParent(nullptr);
        }
    }

    // Under X the toolkit hands the focus of a waiting window on to its dialog
    // itself; where the main window gets activated all the same, the dialog
    // comes back, never left minimised behind it, and takes the keyboard.
    void WatchMainWindow(QEvent::Type Type) {
        if (Type != QEvent::WindowActivate || !FDialog.isVisible() || FMainWindow.isEnabled())
            return;
        if (FDialog.isMinimized())
            FDialog.setWindowState(FDialog.windowState() & ~Qt::WindowMinimized);
        BringToFront(FDialog);
    }

    QWidget& FDialog;
    QWidget& FMainWindow;
};

} // namespace

QPoint FitIntoArea(const QRect& Frame, const QRect& Available) {
    return {FitAxis(Frame.left(), Frame.width(), Available.left(), Available.width()),
            FitAxis(Frame.top(), Frame.height(), Available.top(), Available.height())};
}

void TieToMainWindow(QWidget& Dialog, QWidget& MainWindow) {
    Dialog.setWindowModality(Qt::WindowModal);
    new TDialogTie(Dialog, MainWindow);
}

void PlaceOnScreenOf(QWidget& Dialog, const QWidget& MainWindow) {
    const QScreen* Screen = MainWindow.screen();
    if (!Screen)
        return;
    // before its first showing the dialog's frame is unknown: the main window's
    // stands in for it
    QMargins Frame = FrameOf(Dialog);
    if (Frame.isNull())
        Frame = FrameOf(MainWindow);
    const QRect Outer(Dialog.pos(), Dialog.size().grownBy(Frame));
    Dialog.move(FitIntoArea(Outer, Screen->availableGeometry()));
}

void BringToFront(QWidget& Window) {
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        Window.raise();  // the headless platform has no stacking
    Window.activateWindow();
}

void ShowOver(QWidget& Dialog, const QWidget& MainWindow) {
    PlaceOnScreenOf(Dialog, MainWindow);
    Dialog.show();
    BringToFront(Dialog);
}

} // namespace zelvo
