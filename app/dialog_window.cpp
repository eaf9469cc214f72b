#include "app/dialog_window.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
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

} // namespace

QPoint FitIntoArea(const QRect& Frame, const QRect& Available) {
    return {FitAxis(Frame.left(), Frame.width(), Available.left(), Available.width()),
            FitAxis(Frame.top(), Frame.height(), Available.top(), Available.height())};
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
