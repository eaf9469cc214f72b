#include "platform/error_sink.h"

#include <cstdio>
#include <utility>

namespace zelvo {
namespace {
TErrorHandler& Handler() {
    static TErrorHandler H;
    return H;
}
} // namespace

void SetUnhandledErrorHandler(TErrorHandler H) { Handler() = std::move(H); }

void ReportUnhandledError(const std::string& Message) {
    if (Handler())
        Handler()(Message);
    else
        std::fprintf(stderr, "%s\n", Message.c_str());
}

void ReportCurrentException() {
    try {
        throw;
    } catch (const std::exception& E) {
        ReportUnhandledError(E.what());
    } catch (...) {
        ReportUnhandledError("Unknown error");
    }
}

} // namespace zelvo
