#pragma once
// Errors that leave an event handler end here instead of crossing the event
// loop; the application installs the handler that shows them in its error box.
#include <exception>
#include <functional>
#include <string>

namespace zelvo {

using TErrorHandler = std::function<void(const std::string& Message)>;

void SetUnhandledErrorHandler(TErrorHandler Handler);
// Call from inside a catch block: reports the exception being handled.
void ReportCurrentException();
void ReportUnhandledError(const std::string& Message);

// Runs F and reports anything it throws.
template <class F>
void GuardHandler(F&& Fn) {
    try {
        Fn();
    } catch (...) {
        ReportCurrentException();
    }
}

} // namespace zelvo
