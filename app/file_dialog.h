#pragma once
// The file dialogs of the windows: title, filter, default extension, and the
// folder they open in, kept between uses. The open dialog does not insist on an
// existing file; the reader reports a missing one. Tests replace each kind of
// dialog with a hook that answers in the user's place.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace zelvo {

class TFileDialog {
public:
    QString Title;
    QString Filter;      // in the toolkit's syntax: "WAVE file (*.wav)"
    QString DefaultExt;  // added when the typed name has no extension; no dot
    QString FileName;    // proposed before Execute (save); the chosen path after it

protected:
    // Shows the dialog modally, or asks Hook when there is one; true when a
    // file name was confirmed.
    bool Run(QWidget* Owner, bool Save, bool OverwritePrompt,
             const std::function<std::optional<QString>()>& Hook);

private:
    QString FLastFolder;  // where the dialog opens the next time
};

class TOpenDialog : public TFileDialog {
public:
    bool Execute(QWidget* Owner);

    // The hook gets the dialog as it would show and returns the path the user
    // confirms, or nothing for Cancel. An empty hook brings the dialog back.
    using THook = std::function<std::optional<QString>(const TOpenDialog& Dialog)>;
    static void SetHook(THook Hook);
};

class TSaveDialog : public TFileDialog {
public:
    bool OverwritePrompt = true;  // ask before an existing file is replaced

    bool Execute(QWidget* Owner);

    using THook = std::function<std::optional<QString>(const TSaveDialog& Dialog)>;
    static void SetHook(THook Hook);
};

} // namespace zelvo
