#pragma once
// The file-open dialog of a window: title, filter and default extension. It
// does not insist on an existing file; the reader reports a missing one. Tests
// replace the dialog with a hook that answers in the user's place.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace zelvo {

class TOpenDialog {
public:
    QString Title;
    QString Filter;      // in the toolkit's syntax: "ZVO Presets (*.zvo)"
    QString DefaultExt;  // added when the typed name has no extension; no dot
    QString FileName;    // the chosen path after Execute

    // Shows the dialog modally; true when the user confirmed a file name.
    bool Execute(QWidget* Owner);

    // The hook gets the dialog as it would show and returns the path the user
    // confirms, or nothing for Cancel. An empty hook brings the dialog back.
    using THook = std::function<std::optional<QString>(const TOpenDialog& Dialog)>;
    static void SetHook(THook Hook);

private:
    QString FLastFolder;  // where the dialog opens the next time
};

} // namespace zelvo
