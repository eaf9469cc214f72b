#pragma once
// Small controls the windows need and the toolkit has not in this form: shapes,
// up-down spinners, bevelled panels, a tab control that holds one shared set of
// controls, radio buttons that report the mouse release, and an owner-drawn list.
#include <QColor>
#include <QComboBox>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTimer>
#include <QWidget>
#include <functional>

class QKeyEvent;
class QLineEdit;

namespace zelvo {

// A circle drawn with a brush and a pen colour (pen one pixel wide).
class TShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColor READ BrushColor WRITE setBrushColor)
    Q_PROPERTY(QColor penColor READ PenColor WRITE setPenColor)
public:
    explicit TShape(QWidget* Parent = nullptr);
    QColor BrushColor() const { return FBrush; }
    QColor PenColor() const { return FPen; }
    void setBrushColor(const QColor& C);
    void setPenColor(const QColor& C);

protected:
    void paintEvent(QPaintEvent* E) override;

private:
    QColor FBrush{Qt::white};
    QColor FPen{Qt::black};
};

// An up-down spinner attached to an edit field: each click on an arrow, and each
// Up or Down key in the field, steps the field's whole-number value by 1 within
// minimum..maximum and writes it into the field as text.
class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int minimum READ Min WRITE setMinimum)
    Q_PROPERTY(int maximum READ Max WRITE setMaximum)
    Q_PROPERTY(int position READ Position WRITE setPosition)
public:
    explicit TUpDown(QWidget* Parent = nullptr);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    void setMinimum(int V) { FMin = V; }
    void setMaximum(int V) { FMax = V; }
    void setPosition(int V) { FPosition = V; }

    void SetAssociate(QLineEdit* Edit);
    QLineEdit* Associate() const { return FEdit; }
    void Step(int Delta);

protected:
    void paintEvent(QPaintEvent* E) override;
    void mousePressEvent(QMouseEvent* E) override;
    void mouseReleaseEvent(QMouseEvent* E) override;
    bool eventFilter(QObject* Watched, QEvent* E) override;

private:
    QLineEdit* FEdit = nullptr;
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    int FPressed = 0;  // +1 up arrow held, -1 down arrow held
    QTimer FRepeat;
};

// A bevelled frame: outer and inner bevel each none, lowered or raised.
class TBevelPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int bevelOuter READ BevelOuter WRITE setBevelOuter)
    Q_PROPERTY(int bevelInner READ BevelInner WRITE setBevelInner)
public:
    enum { bvNone = 0, bvLowered = 1, bvRaised = 2 };
    explicit TBevelPanel(QWidget* Parent = nullptr);
    int BevelOuter() const { return FOuter; }
    int BevelInner() const { return FInner; }
    void setBevelOuter(int V);
    void setBevelInner(int V);

protected:
    void paintEvent(QPaintEvent* E) override;

private:
    int FOuter = bvRaised;
    int FInner = bvNone;
};

// A radio button that reports every mouse-button release after the button has
// handled it (so a completed click has already checked it).
class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;
signals:
    void MouseUp();

protected:
    void mouseReleaseEvent(QMouseEvent* E) override;
};

// The tab row of TTabControl. A click or a wheel turn takes the keyboard focus
// before the selection changes, so an entry that is still open ends on the tab
// where it was typed.
class TTabBar : public QTabBar {
    Q_OBJECT
public:
    explicit TTabBar(QWidget* Parent = nullptr);

protected:
    void tabInserted(int Index) override;
    void tabRemoved(int Index) override;
    void wheelEvent(QWheelEvent* E) override;
};

// A tab row over a frame. The frame's children are one set of controls that
// always show the selected tab; enabling or disabling the control covers them.
class TTabControl : public QWidget {
    Q_OBJECT
public:
    explicit TTabControl(QWidget* Parent = nullptr);
    QTabBar* TabBar() const { return FTabBar; }
    int TabIndex() const { return FTabBar->currentIndex(); }
    void Relayout();

protected:
    void paintEvent(QPaintEvent* E) override;
    void resizeEvent(QResizeEvent* E) override;

private:
    TTabBar* FTabBar;
};

// A drop-down list drawn by its owner, in the list and in its face.
class TOwnerDrawList : public QComboBox {
    Q_OBJECT
public:
    using TDrawItem = std::function<void(QPainter& Canvas, int Index, const QRect& Rect, bool Selected)>;
    static constexpr int kItemHeight = 18;

    explicit TOwnerDrawList(QWidget* Parent = nullptr);
    void SetDrawItem(TDrawItem Draw) { FDraw = std::move(Draw); }
    void DrawItem(QPainter& Canvas, int Index, const QRect& Rect, bool Selected) const;

protected:
    void paintEvent(QPaintEvent* E) override;

private:
    TDrawItem FDraw;
};

// Enter, from the main keys or the keypad, as classic Windows dialogs take it:
// it presses the button with the focus, and the window's default button only
// where the focus is on no other button. Buttons that are no default leave
// Enter to their window, whose keyPressEvent calls this; true when a button
// was pressed. The toolkit's own way (auto-default buttons) is not used: outside
// its dialogs, a default button that once had the focus stops being the default.
bool PressButtonForEnter(QWidget& Window, const QKeyEvent& E);

} // namespace zelvo
