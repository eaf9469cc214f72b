#include "app/tfrmabout.h"

#include <QFont>

namespace zelvo {

TfrmAbout::TfrmAbout(QWidget* Parent) : QWidget(Parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont F(QStringLiteral("MS Sans Serif"));
    F.setPixelSize(11);
    setFont(F);
    setFixedSize(356, 377);
    move(496, 167);
}

} // namespace zelvo
