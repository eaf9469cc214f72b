#pragma once
// The file-save dialog of a window: title, filter, default extension and the
// file name it proposes, kept between uses. Tests replace the dialog with a
// hook that answers in the user's place.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace zelvo {

class TSaveDialog {
public:
    QString Title;
    QString Filter;      // in the toolkit's syntax: "WAVE file (*.wav)"
    QString DefaultExt;  // added when the typed name has no extension; no dot
    QString FileName;    // proposed before Execute; the chosen path after it
    bool OverwritePrompt = true;  // ask before an existing file is replaced

    // Shows the dialog modally; true when the user confirmed a file name.
    bool Execute(QWidget* Owner);

    // The hook gets the dialog as it would show and returns the path the user
    // confirms, or nothing for Cancel. An empty hook brings the dialog back.
    using THook = std::function<std::optional<QString>(const TSaveDialog& Dialog)>;
    static void SetHook(THook Hook);

private:
    QString FLastFolder;  // where the dialog opens the next time
};

} // namespace zelvo
