#pragma once
// The two message boxes of the program: the plain box for its own complaints and
// the error box that shows an error which left an event handler. Tests install
// an interceptor that records the boxes instead of showing them.
#include <QString>
#include <functional>

namespace zelvo {

enum class TBoxKind { Message, Error };

class TMessageBoxes {
public:
    using TInterceptor = std::function<void(TBoxKind Kind, const QString& Caption, const QString& Text)>;

    // The text and an OK button.
    static void ShowMessage(const QString& Text);
    // Error icon and OK; the text gets a closing full stop unless it has one.
    static void ShowError(const QString& Text);

    // The caption of both boxes: the application's title ("Zelvo" until the main
    // window's first activation sets the long title).
    static QString ApplicationTitle();
    static void SetApplicationTitle(const QString& Title);

    static void SetInterceptor(TInterceptor Interceptor);  // empty: show real boxes

    // The text the error box shows for Message.
    static QString ErrorText(const QString& Message);
};

// Sends every error that leaves an event handler to TMessageBoxes::ShowError.
void InstallErrorBox();

} // namespace zelvo
