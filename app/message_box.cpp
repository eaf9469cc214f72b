#include "app/message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "app/strings.h"
#include "platform/error_sink.h"

namespace zelvo {
namespace {

QString& Title() {
    static QString T = str::Q(str::ProductTitle);
    return T;
}

TMessageBoxes::TInterceptor& Interceptor() {
    static TMessageBoxes::TInterceptor I;
    return I;
}

void Show(TBoxKind Kind, const QString& Text) {
    if (Interceptor()) {
        Interceptor()(Kind, Title(), Text);
        return;
    }
    QMessageBox Box(Kind == TBoxKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon, Title(),
                    Text, QMessageBox::Ok, QApplication::activeWindow());
    Box.exec();
}

} // namespace

void TMessageBoxes::ShowMessage(const QString& Text) { Show(TBoxKind::Message, Text); }

void TMessageBoxes::ShowError(const QString& Text) { Show(TBoxKind::Error, ErrorText(Text)); }

QString TMessageBoxes::ErrorText(const QString& Message) {
    if (Message.endsWith(QLatin1Char('.')))
        return Message;
    return Message + QLatin1Char('.');
}

QString TMessageBoxes::ApplicationTitle() { return Title(); }
void TMessageBoxes::SetApplicationTitle(const QString& T) { Title() = T; }
void TMessageBoxes::SetInterceptor(TInterceptor I) { Interceptor() = std::move(I); }

void InstallErrorBox() {
    SetUnhandledErrorHandler(
        [](const std::string& Message) { TMessageBoxes::ShowError(QString::fromStdString(Message)); });
}

} // namespace zelvo
