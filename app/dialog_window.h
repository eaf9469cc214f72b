#pragma once
// The windows that the disabled main window waits for (the compatibility
// settings, the about box, the export's progress): how they keep with the main
// window under a window manager, where they open and how they come to the
// front.
#include <QPoint>
#include <QRect>

class QWidget;

namespace zelvo {

// Where a window goes whose frame stands at Frame, on a screen whose free area
// is Available: where it stands when it lies wholly inside, else moved the least
// distance that puts it inside. Along an axis where the frame is larger than the
// area, its left or top edge goes to the area's, so that the caption bar stays
// in reach. The result is the frame's top-left, as QWidget::move takes it.
QPoint FitIntoArea(const QRect& Frame, const QRect& Available);

// Makes Dialog belong to MainWindow for the window manager while it shows:
// transient for it and modal to it, so that it stays above it and takes the
// keyboard whenever the main window is chosen. A parent widget would do the
// same but grey the dialog out with the disabled main window. Where the main
// window is activated all the same, the dialog comes back un-minimised and
// takes the keyboard from it.
void TieToMainWindow(QWidget& Dialog, QWidget& MainWindow);

// Moves Dialog's frame, at its current position, onto the screen that shows
// MainWindow by FitIntoArea.
void PlaceOnScreenOf(QWidget& Dialog, const QWidget& MainWindow);

// Raises Window and gives it the keyboard.
void BringToFront(QWidget& Window);

// Shows Dialog over its disabled main window: placed on the main window's
// screen, in front, with the keyboard.
void ShowOver(QWidget& Dialog, const QWidget& MainWindow);

} // namespace zelvo
