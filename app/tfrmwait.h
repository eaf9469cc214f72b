#pragma once
// The progress dialog of the WAV export, created hidden at start-up. Its
// controls come with later work.
#include <QWidget>

namespace zelvo {

class TfrmWait : public QWidget {
    Q_OBJECT
public:
    explicit TfrmWait(QWidget* Parent = nullptr);
};

} // namespace zelvo
