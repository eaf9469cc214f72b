#pragma once
// The about box, created hidden at start-up. Its controls come with later work.
#include <QWidget>

namespace zelvo {

class TfrmAbout : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* Parent = nullptr);
};

} // namespace zelvo
