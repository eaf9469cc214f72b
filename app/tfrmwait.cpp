#include "app/tfrmwait.h"

#include <QFont>

#include "app/strings.h"

namespace zelvo {

TfrmWait::TfrmWait(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("frmWait"));
    setWindowTitle(str::Q(str::ProductTitle));
    // no close box and no system menu
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(10);
    setFont(F);
    setFixedSize(372, 108);
}

} // namespace zelvo
