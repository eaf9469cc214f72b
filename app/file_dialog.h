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

// What a file dialog hands on for the name the user typed or picked. The
// default extension (DefaultExt, no dot) goes on a name whose last part has
// no dot, unless the name stands for something that is not a regular file (a
// device, a FIFO, a socket, the pipe behind /dev/stdout or /dev/fd/N, a
// folder, or a link to one of them): that is used as typed, and written in
// place. Both the dialog and the tests' hook go through this.
struct TChosenName {
    QString Path;
    // Path names an existing regular file, through any links: saving there
    // replaces it, so the save dialog asks first.
    bool ReplacesAFile = false;
};
TChosenName ChooseFileName(const QString& Typed, const QString& DefaultExt);

class TFileDialog {
public:
    QString Title;
    QString Filter;      // in the toolkit's syntax: "WAVE file (*.wav)"
    QString DefaultExt;  // no dot; where it is added: ChooseFileName
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

    // The hook gets the dialog as it would show and returns the name the user
    // typed or picked, or nothing for Cancel; the dialog's rule for the
    // default extension applies to it. An empty hook brings the dialog back.
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
