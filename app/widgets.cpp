#include "app/widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QStylePainter>
#include <QWheelEvent>
#include <algorithm>
#include <charconv>

namespace zelvo {

// ---- TShape

TShape::TShape(QWidget* Parent) : QWidget(Parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

void TShape::setBrushColor(const QColor& C) {
    FBrush = C;
    update();
}

void TShape::setPenColor(const QColor& C) {
    FPen = C;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter P(this);
    P.setRenderHint(QPainter::Antialiasing);
    const int D = std::min(width(), height());
    const QRectF R((width() - D) / 2 + 0.5, (height() - D) / 2 + 0.5, D - 1, D - 1);
    P.setPen(QPen(FPen, 1));
    P.setBrush(FBrush);
    P.drawEllipse(R);
}

// ---- TUpDown

TUpDown::TUpDown(QWidget* Parent) : QWidget(Parent) {
    setFocusPolicy(Qt::NoFocus);
    FRepeat.setSingleShot(false);
    connect(&FRepeat, &QTimer::timeout, this, [this] {
        FRepeat.setInterval(50);
        if (FPressed != 0)
            Step(FPressed);
    });
}

void TUpDown::SetAssociate(QLineEdit* Edit) {
    if (FEdit)
        FEdit->removeEventFilter(this);
    FEdit = Edit;
    if (FEdit)
        FEdit->installEventFilter(this);
}

namespace {
// The field's value as a whole number, blanks around it allowed.
bool ReadWhole(const QString& Text, int& Value) {
    const QByteArray B = Text.trimmed().toLatin1();
    const char* First = B.constData();
    const char* Last = First + B.size();
    if (First != Last && *First == '+')
        ++First;
    const auto R = std::from_chars(First, Last, Value);
    return R.ec == std::errc() && R.ptr == Last && First != Last;
}
} // namespace

void TUpDown::Step(int Delta) {
    if (!FEdit)
        return;
    int Current = FPosition;
    if (!ReadWhole(FEdit->text(), Current))
        Current = FPosition;  // a text that is no whole number steps from the last position
    const int Next = static_cast<int>(std::clamp<long long>(static_cast<long long>(Current) + Delta, FMin, FMax));
    if (Next == Current)
        return;  // at the end of the range
    FPosition = Next;
    FEdit->setText(QString::number(Next));
}

void TUpDown::paintEvent(QPaintEvent*) {
    QPainter P(this);
    const int Half = height() / 2;
    const QRect Halves[2] = {QRect(0, 0, width(), Half), QRect(0, Half, width(), height() - Half)};
    for (int I = 0; I < 2; ++I) {
        QStyleOptionButton Opt;
        Opt.initFrom(this);
        Opt.rect = Halves[I];
        const bool Down = (I == 0 && FPressed > 0) || (I == 1 && FPressed < 0);
        Opt.state |= Down ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &Opt, &P, this);
        QStyleOption Arrow;
        Arrow.initFrom(this);
        Arrow.rect = Halves[I].adjusted(3, 2, -3, -2);
        style()->drawPrimitive(I == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &Arrow,
                               &P, this);
    }
}

void TUpDown::mousePressEvent(QMouseEvent* E) {
    if (E->button() != Qt::LeftButton || !isEnabled())
        return;
    FPressed = E->position().y() < height() / 2 ? +1 : -1;
    update();
    Step(FPressed);
    FRepeat.start(400);
}

void TUpDown::mouseReleaseEvent(QMouseEvent*) {
    FPressed = 0;
    FRepeat.stop();
    update();
}

bool TUpDown::eventFilter(QObject* Watched, QEvent* E) {
    if (Watched == FEdit && E->type() == QEvent::KeyPress) {
        const int Key = static_cast<QKeyEvent*>(E)->key();
        if (Key == Qt::Key_Up || Key == Qt::Key_Down) {
            Step(Key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(Watched, E);
}

// ---- TBevelPanel

TBevelPanel::TBevelPanel(QWidget* Parent) : QWidget(Parent) {}

void TBevelPanel::setBevelOuter(int V) {
    FOuter = V;
    update();
}

void TBevelPanel::setBevelInner(int V) {
    FInner = V;
    update();
}

void TBevelPanel::paintEvent(QPaintEvent*) {
    QPainter P(this);
    const QColor Light = palette().color(QPalette::Light);
    const QColor Shadow = palette().color(QPalette::Dark);
    QRect R = rect();
    for (int Bevel : {FOuter, FInner}) {
        if (Bevel == bvNone)
            continue;
        const QColor TopLeft = Bevel == bvRaised ? Light : Shadow;
        const QColor BottomRight = Bevel == bvRaised ? Shadow : Light;
        P.setPen(TopLeft);
        P.drawLine(R.topLeft(), R.topRight());
        P.drawLine(R.topLeft(), R.bottomLeft());
        P.setPen(BottomRight);
        P.drawLine(R.bottomLeft(), R.bottomRight());
        P.drawLine(R.topRight(), R.bottomRight());
        R.adjust(1, 1, -1, -1);
    }
}

// ---- TRadioButton

void TRadioButton::mouseReleaseEvent(QMouseEvent* E) {
    QRadioButton::mouseReleaseEvent(E);
    emit MouseUp();
}

// ---- TTabBar / TTabControl

TTabBar::TTabBar(QWidget* Parent) : QTabBar(Parent) {
    setFocusPolicy(Qt::StrongFocus);
    setIconSize(QSize(16, 16));
    setUsesScrollButtons(true);
    setExpanding(false);
    setElideMode(Qt::ElideNone);
    setDrawBase(false);
}

void TTabBar::tabInserted(int Index) {
    QTabBar::tabInserted(Index);
    if (auto* Owner = qobject_cast<TTabControl*>(parentWidget()))
        Owner->Relayout();
}

void TTabBar::tabRemoved(int Index) {
    QTabBar::tabRemoved(Index);
    if (auto* Owner = qobject_cast<TTabControl*>(parentWidget()))
        Owner->Relayout();
}

void TTabBar::wheelEvent(QWheelEvent* E) {
    if (isEnabled())
        setFocus(Qt::MouseFocusReason);
    QTabBar::wheelEvent(E);
}

TTabControl::TTabControl(QWidget* Parent) : QWidget(Parent), FTabBar(new TTabBar(this)) {
    FTabBar->setObjectName(QStringLiteral("TabControl1Tabs"));
    Relayout();
}

void TTabControl::Relayout() {
    const int H = std::max(FTabBar->sizeHint().height(), FTabBar->fontMetrics().height() + 10);
    FTabBar->setGeometry(0, 0, width(), std::min(H, 28));
    update();
}

void TTabControl::resizeEvent(QResizeEvent*) { Relayout(); }

void TTabControl::paintEvent(QPaintEvent*) {
    QPainter P(this);
    QStyleOptionTabWidgetFrame Opt;
    Opt.initFrom(this);
    const int Overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    const int Top = FTabBar->height() - Overlap;
    Opt.rect = QRect(0, Top, width(), height() - Top);
    Opt.shape = QTabBar::RoundedNorth;
    Opt.tabBarSize = FTabBar->size();
    Opt.tabBarRect = FTabBar->geometry();
    Opt.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &Opt, &P, this);
}

// ---- TOwnerDrawList

namespace {
class TOwnerDrawDelegate final : public QStyledItemDelegate {
public:
    explicit TOwnerDrawDelegate(TOwnerDrawList* List) : QStyledItemDelegate(List), FList(List) {}

    void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        Painter->save();
        FList->DrawItem(*Painter, Index.row(), Option.rect, Option.state & QStyle::State_Selected);
        Painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const override {
        return QSize(Option.rect.width(), TOwnerDrawList::kItemHeight);
    }

private:
    TOwnerDrawList* FList;
};
} // namespace

TOwnerDrawList::TOwnerDrawList(QWidget* Parent) : QComboBox(Parent) {
    setEditable(false);
    setItemDelegate(new TOwnerDrawDelegate(this));
}

void TOwnerDrawList::DrawItem(QPainter& Canvas, int Index, const QRect& Rect, bool Selected) const {
    if (FDraw)
        FDraw(Canvas, Index, Rect, Selected);
}

void TOwnerDrawList::paintEvent(QPaintEvent*) {
    QStylePainter P(this);
    QStyleOptionComboBox Opt;
    initStyleOption(&Opt);
    Opt.currentText.clear();
    Opt.currentIcon = QIcon();
    P.drawComplexControl(QStyle::CC_ComboBox, Opt);
    QRect Field = style()->subControlRect(QStyle::CC_ComboBox, &Opt, QStyle::SC_ComboBoxEditField, this);
    // the face shows the selected item in the selection colours while the list has the focus
    Field.setHeight(std::min(Field.height(), kItemHeight));
    Field.moveTop((height() - Field.height()) / 2);
    if (currentIndex() >= 0) {
        P.save();
        P.setClipRect(Field);
        DrawItem(P, currentIndex(), Field, hasFocus());
        P.restore();
    }
}

// ---- Enter

bool PressButtonForEnter(QWidget& Window, const QKeyEvent& E) {
    if (E.key() != Qt::Key_Return && E.key() != Qt::Key_Enter)
        return false;
    if (auto* Focused = qobject_cast<QPushButton*>(Window.focusWidget())) {
        Focused->click();
        return true;
    }
    for (QPushButton* B : Window.findChildren<QPushButton*>()) {
        if (B->isDefault() && B->window() == &Window && B->isVisible() && B->isEnabled()) {
            B->click();
            return true;
        }
    }
    return false;
}

} // namespace zelvo
