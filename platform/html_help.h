#pragma once
// The help viewer that stands where the program asks the platform's HTML Help
// to show a topic of a compiled help file (.chm) by its context number. The
// file is read with chmlib; the context number goes through the file's own
// context map, and the topic is shown in one help window of the program.
#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QSplitter;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
struct chmFile;

namespace zelvo {

// Shows the topic mapped to Context in ChmFile (the HH_HELP_CONTEXT command).
// A file that cannot be opened, or a context that the file does not map, is
// reported in a message box owned by Owner; nothing is thrown.
void HtmlHelpContext(QWidget* Owner, const QString& ChmFile, int Context);

// Read access to one compiled help file.
class TChmFile {
public:
    // Null when the file is missing or is no compiled help file.
    static std::shared_ptr<TChmFile> Open(const QString& FileName);
    ~TChmFile();
    TChmFile(const TChmFile&) = delete;
    TChmFile& operator=(const TChmFile&) = delete;

    QString FileName() const { return FFileName; }
    // Paths inside the file start with "/"; letter case does not matter.
    bool Contains(const QString& Path) const;
    std::optional<QByteArray> Read(const QString& Path) const;

    // From the file's system data; empty when the file does not say.
    QString Title() const { return FTitle; }
    QString DefaultTopic() const { return FDefaultTopic; }  // a path inside the file
    QString ContentsFile() const { return FContentsFile; }  // the .hhc sitemap, if any

    // The topic that the context map gives for Context: a path inside the file,
    // possibly followed by "#anchor"; empty when the context is not mapped.
    QString TopicForContext(int Context) const;

    // Maps a topic name as a project or sitemap writes it ("x.htm",
    // "sub\x.htm", "/x.htm#a", a compiler's absolute source path, or
    // "other.chm::/x.htm") onto a path inside this file; empty when none fits.
    QString LocateTopic(const QString& Name) const;

private:
    explicit TChmFile(chmFile* Handle, const QString& FileName);
    void ReadSystemData();

    chmFile* FHandle;
    QString FFileName;
    QString FTitle;
    QString FDefaultTopic;
    QString FContentsFile;
};

// The browser pane: pages, style sheets and pictures all come from the file.
class THelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit THelpBrowser(QWidget* Parent = nullptr);
    void SetChmFile(std::shared_ptr<TChmFile> Chm);
    QVariant loadResource(int Type, const QUrl& Name) override;

    // The address of a path inside the help file, as the browser uses it.
    static QUrl TopicUrl(const QString& PathAndAnchor);

protected:
    void doSetSource(const QUrl& Name, QTextDocument::ResourceType Type) override;

private:
    std::shared_ptr<TChmFile> FChm;
};

// The single help window of the program.
class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(QWidget* Parent = nullptr);

    // Loads Chm (when it is not the file already shown) and shows Topic.
    void ShowTopic(std::shared_ptr<TChmFile> Chm, const QString& Topic);

    // The window that asked for help last: it gets the keyboard back when the
    // help window closes, if it still shows.
    void SetOpener(QWidget* Window) { FOpener = Window; }

    // For tests and callers that need to know what is shown.
    QString HelpFile() const;
    QString CurrentTopic() const;  // path inside the file, e.g. "/main_window.htm"
    QString CurrentAnchor() const;
    QString CurrentHeading() const;  // the text of the page's first heading
    THelpBrowser* Browser() const { return FBrowser; }
    QTreeWidget* Contents() const { return FContents; }
    QToolButton* BackButton() const { return FBack; }
    QToolButton* ForwardButton() const { return FForward; }

protected:
    void closeEvent(QCloseEvent* E) override;

private:
    void LoadContents();
    void SelectContentsItem(const QUrl& Source);
    void GoHome();

    std::shared_ptr<TChmFile> FChm;
    QSplitter* FSplitter;
    QTreeWidget* FContents;
    THelpBrowser* FBrowser;
    QToolButton* FBack;
    QToolButton* FForward;
    QToolButton* FHome;
    QPointer<QWidget> FOpener;
};

// The help window, or null before the first topic was shown.
THelpWindow* HelpWindow();

// Tests replace the modal message box with a handler of their own; an empty
// handler brings the message box back.
using THelpMessageHandler = std::function<void(QWidget* Owner, const QString& Text)>;
void SetHelpMessageHandler(THelpMessageHandler Handler);

} // namespace zelvo
