#pragma once
// The program's start-up: the windows in their order, the preset file named on
// the command line, and the message loop.
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "app/memories.h"
#include "synth/synth.h"

namespace zelvo {

class TGenerator;
class TfrmAbout;
class TfrmSettings;
class TfrmWait;

// Toolkit settings every window relies on: the style, the stand-in for the
// layout's font, and the error box for errors that leave a handler. Call once
// after the QApplication exists.
void InitToolkit();

class TApplication {
public:
    // Arguments as the system gives them, the program first: bytes, so that a
    // file name that is not UTF-8 is still found.
    explicit TApplication(std::vector<std::string> Arguments);
    explicit TApplication(const QStringList& Arguments);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates the windows, hidden, in their order, then loads a preset file that
    // the command line names.
    void Start();
    // Shows the main window and runs the message loop until it has closed.
    int Run();

    // True when Path names an existing file and holds ".zvo" (case-sensitive).
    static bool IsPresetArgument(const std::string& Path);

    // The state the windows show and edit; it lives as long as the program.
    TSynth Synth;
    TMemoryBank Memories;
    std::string CommandLinePath;  // bytes

    // The form variables, valid from Start to the end of the program.
    std::unique_ptr<TGenerator> Generator;
    std::unique_ptr<TfrmAbout> frmAbout;
    std::unique_ptr<TfrmSettings> frmSettings;
    std::unique_ptr<TfrmWait> frmWait;
};

} // namespace zelvo
