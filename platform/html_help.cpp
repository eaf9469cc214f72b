#include "platform/html_help.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chm_lib.h>

#include <cstring>

namespace zelvo {
namespace {

const QString Scheme = QStringLiteral("chm");
constexpr int UrlRole = Qt::UserRole + 1;
// Objects larger than this are taken for damage, not for help pages.
constexpr LONGUINT64 MaxObjectSize = 64u << 20;

THelpMessageHandler& MessageHandler() {
    static THelpMessageHandler Handler;
    return Handler;
}

void ShowHelpMessage(QWidget* Owner, const QString& Text) {
    if (MessageHandler())
        MessageHandler()(Owner, Text);
    else
        QMessageBox::warning(Owner, QStringLiteral("Help"), Text);
}

QPointer<THelpWindow>& WindowInstance() {
    static QPointer<THelpWindow> Window;
    return Window;
}

uint32_t ReadU32(const QByteArray& Data, qsizetype Pos) {
    const auto* P = reinterpret_cast<const unsigned char*>(Data.constData()) + Pos;
    return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}

uint16_t ReadU16(const QByteArray& Data, qsizetype Pos) {
    const auto* P = reinterpret_cast<const unsigned char*>(Data.constData()) + Pos;
    return uint16_t(P[0] | P[1] << 8);
}

// A zero-terminated string starting at Pos (or running to the end of Data).
QString ZeroTerminated(const QByteArray& Data, qsizetype Pos, qsizetype End = -1) {
    if (End < 0 || End > Data.size())
        End = Data.size();
    if (Pos < 0 || Pos >= End)
        return {};
    const qsizetype Zero = Data.indexOf('\0', Pos);
    const qsizetype Stop = (Zero < 0 || Zero > End) ? End : Zero;
    return QString::fromUtf8(Data.constData() + Pos, Stop - Pos);
}

QString DecodeEntities(QString Text) {
    static const QRegularExpression Entity(QStringLiteral("&(#x[0-9A-Fa-f]+|#[0-9]+|[A-Za-z]+);"));
    QString Out;
    qsizetype Last = 0;
    auto It = Entity.globalMatch(Text);
    while (It.hasNext()) {
        const auto M = It.next();
        Out += QStringView(Text).mid(Last, M.capturedStart() - Last);
        const QString E = M.captured(1);
        QString R;
        if (E.startsWith(QLatin1String("#x")))
            R = QChar(char16_t(E.mid(2).toUInt(nullptr, 16)));
        else if (E.startsWith(QLatin1Char('#')))
            R = QChar(char16_t(E.mid(1).toUInt()));
        else if (E == QLatin1String("amp"))
            R = QStringLiteral("&");
        else if (E == QLatin1String("lt"))
            R = QStringLiteral("<");
        else if (E == QLatin1String("gt"))
            R = QStringLiteral(">");
        else if (E == QLatin1String("quot"))
            R = QStringLiteral("\"");
        else if (E == QLatin1String("apos"))
            R = QStringLiteral("'");
        else if (E == QLatin1String("nbsp"))
            R = QChar(0xA0);
        else
            R = M.captured(0);
        Out += R;
        Last = M.capturedEnd();
    }
    Out += QStringView(Text).mid(Last);
    return Out;
}

QString Attribute(const QString& Attributes, const QString& Name) {
    static const QRegularExpression Attr(
        QStringLiteral("([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    auto It = Attr.globalMatch(Attributes);
    while (It.hasNext()) {
        const auto M = It.next();
        if (M.captured(1).compare(Name, Qt::CaseInsensitive) == 0) {
            for (int Group = 2; Group <= 4; ++Group)
                if (M.capturedStart(Group) >= 0)
                    return DecodeEntities(M.captured(Group));
            return {};
        }
    }
    return {};
}

// The part of a help link after "file.chm::", as in "ms-its:zvo.chm::/x.htm".
QString InsideFilePart(const QString& Link) {
    const qsizetype Sep = Link.lastIndexOf(QLatin1String("::"));
    return Sep < 0 ? QString() : Link.mid(Sep + 2);
}

} // namespace

// ---------------------------------------------------------------- TChmFile

TChmFile::TChmFile(chmFile* Handle, const QString& FileName) : FHandle(Handle), FFileName(FileName) {}

TChmFile::~TChmFile() { chm_close(FHandle); }

std::shared_ptr<TChmFile> TChmFile::Open(const QString& FileName) {
    const QFileInfo Info(FileName);
    if (!Info.isFile() || !Info.isReadable())
        return nullptr;
    chmFile* Handle = chm_open(QFile::encodeName(Info.absoluteFilePath()).constData());
    if (!Handle)
        return nullptr;
    std::shared_ptr<TChmFile> File(new TChmFile(Handle, Info.absoluteFilePath()));
    File->ReadSystemData();
    return File;
}

bool TChmFile::Contains(const QString& Path) const {
    chmUnitInfo Unit;
    return chm_resolve_object(FHandle, Path.toUtf8().constData(), &Unit) == CHM_RESOLVE_SUCCESS;
}

std::optional<QByteArray> TChmFile::Read(const QString& Path) const {
    chmUnitInfo Unit;
    if (chm_resolve_object(FHandle, Path.toUtf8().constData(), &Unit) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (Unit.length > MaxObjectSize)
        return std::nullopt;
    QByteArray Data(qsizetype(Unit.length), Qt::Uninitialized);
    if (Unit.length == 0)
        return Data;
    const LONGINT64 Got = chm_retrieve_object(FHandle, &Unit, reinterpret_cast<unsigned char*>(Data.data()), 0,
                                              LONGINT64(Unit.length));
    if (Got != LONGINT64(Unit.length))
        return std::nullopt;
    return Data;
}

// The system data: a version word, then records of a 16-bit code, a 16-bit
// length and that many bytes. Code 0 names the contents sitemap, 2 the default
// topic and 3 the title.
void TChmFile::ReadSystemData() {
    const auto Data = Read(QStringLiteral("/#SYSTEM"));
    if (!Data || Data->size() < 4)
        return;
    qsizetype Pos = 4;
    while (Pos + 4 <= Data->size()) {
        const uint16_t Code = ReadU16(*Data, Pos);
        const uint16_t Length = ReadU16(*Data, Pos + 2);
        const qsizetype Start = Pos + 4;
        if (Start + Length > Data->size())
            break;
        const QString Text = ZeroTerminated(*Data, Start, Start + Length);
        if (Code == 0)
            FContentsFile = LocateTopic(Text);
        else if (Code == 2)
            FDefaultTopic = LocateTopic(Text);
        else if (Code == 3)
            FTitle = Text;
        Pos = Start + Length;
    }
}

// The context map: #IVB holds a byte count, then pairs of a context number and
// an offset into #STRINGS, where the topic's name stands zero-terminated.
QString TChmFile::TopicForContext(int Context) const {
    const auto Map = Read(QStringLiteral("/#IVB"));
    const auto Strings = Read(QStringLiteral("/#STRINGS"));
    if (!Map || !Strings || Map->size() < 4)
        return {};
    const qsizetype Bytes = std::min<qsizetype>(ReadU32(*Map, 0), Map->size() - 4);
    for (qsizetype Pos = 4; Pos + 8 <= 4 + Bytes; Pos += 8) {
        if (ReadU32(*Map, Pos) != uint32_t(Context))
            continue;
        const uint32_t Offset = ReadU32(*Map, Pos + 4);
        if (Offset >= uint32_t(Strings->size()))
            return {};
        return LocateTopic(ZeroTerminated(*Strings, qsizetype(Offset)));
    }
    return {};
}

QString TChmFile::LocateTopic(const QString& Name) const {
    QString Path = Name.trimmed();
    if (Path.isEmpty())
        return {};
    const QString Inside = InsideFilePart(Path);
    if (!Inside.isEmpty())
        Path = Inside;
    Path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString Anchor;
    if (const qsizetype Hash = Path.indexOf(QLatin1Char('#')); Hash >= 0) {
        Anchor = Path.mid(Hash);
        Path.truncate(Hash);
    }
    QStringList Parts = Path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    Parts.removeAll(QStringLiteral("."));
    // Some compilers store the absolute path of the source file: the longest
    // tail of it that names an object of this file is the topic.
    for (qsizetype First = 0; First < Parts.size(); ++First) {
        const QString Candidate = QLatin1Char('/') + Parts.mid(First).join(QLatin1Char('/'));
        if (Contains(Candidate))
            return Candidate + Anchor;
    }
    return {};
}

// ------------------------------------------------------------ THelpBrowser

THelpBrowser::THelpBrowser(QWidget* Parent) : QTextBrowser(Parent) {
    setOpenLinks(true);
    setOpenExternalLinks(false);  // doSetSource hands them to the desktop
}

void THelpBrowser::SetChmFile(std::shared_ptr<TChmFile> Chm) { FChm = std::move(Chm); }

QUrl THelpBrowser::TopicUrl(const QString& PathAndAnchor) {
    QString Path = PathAndAnchor;
    QString Anchor;
    if (const qsizetype Hash = Path.indexOf(QLatin1Char('#')); Hash >= 0) {
        Anchor = Path.mid(Hash + 1);
        Path.truncate(Hash);
    }
    if (!Path.startsWith(QLatin1Char('/')))
        Path.prepend(QLatin1Char('/'));
    QUrl Url;
    Url.setScheme(Scheme);
    Url.setPath(Path);
    if (!Anchor.isEmpty())
        Url.setFragment(Anchor);
    return Url;
}

QVariant THelpBrowser::loadResource(int Type, const QUrl& Name) {
    QUrl Url = Name;
    if (Url.isRelative()) {
        const QUrl Base = source().isValid() && !source().isEmpty() ? source() : TopicUrl(QStringLiteral("/"));
        Url = Base.resolved(Url);
    }
    if (Url.scheme() != Scheme)
        return QTextBrowser::loadResource(Type, Name);
    std::optional<QByteArray> Data;
    if (FChm) {
        Data = FChm->Read(Url.path());
        if (!Data) {
            const QString Found = FChm->LocateTopic(Url.path());
            if (!Found.isEmpty())
                Data = FChm->Read(Found);
        }
    }
    if (Data)
        return *Data;
    if (Type == QTextDocument::HtmlResource)
        return QStringLiteral("<html><body><h1>Page not found</h1><p>The page \"%1\" is not in the help file.</p>"
                              "</body></html>")
            .arg(Url.path().toHtmlEscaped());
    return {};
}

void THelpBrowser::doSetSource(const QUrl& Name, QTextDocument::ResourceType Type) {
    QUrl Url = Name;
    const QString Inside = InsideFilePart(Name.toString());
    if (!Inside.isEmpty() && Name.scheme() != Scheme) {
        // "ms-its:zvo.chm::/x.htm" and the like: a page of this file.
        const QString Found = FChm ? FChm->LocateTopic(Inside) : QString();
        Url = TopicUrl(Found.isEmpty() ? Inside : Found);
    } else if (Url.isRelative() && !source().isEmpty()) {
        Url = source().resolved(Url);
    }
    if (!Url.scheme().isEmpty() && Url.scheme() != Scheme) {
        QDesktopServices::openUrl(Url);  // web addresses and mail go to the desktop
        return;
    }
    QTextBrowser::doSetSource(Url, Type);
}

// ------------------------------------------------------------- THelpWindow

THelpWindow::THelpWindow(QWidget* Parent) : QWidget(Parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(4, 4, 4, 4);
    Layout->setSpacing(4);

    auto* Tools = new QHBoxLayout;
    Tools->setSpacing(2);
    auto MakeButton = [this, Tools](const QString& Text, QStyle::StandardPixmap Icon) {
        auto* B = new QToolButton(this);
        B->setText(Text);
        B->setIcon(style()->standardIcon(Icon));
        B->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        B->setAutoRaise(true);
        Tools->addWidget(B);
        return B;
    };
    FBack = MakeButton(QStringLiteral("Back"), QStyle::SP_ArrowBack);
    FForward = MakeButton(QStringLiteral("Forward"), QStyle::SP_ArrowForward);
    FHome = MakeButton(QStringLiteral("Home"), QStyle::SP_DirHomeIcon);
    Tools->addStretch(1);
    Layout->addLayout(Tools);

    FSplitter = new QSplitter(Qt::Horizontal, this);
    FContents = new QTreeWidget(FSplitter);
    FContents->setHeaderHidden(true);
    FContents->setColumnCount(1);
    FContents->setObjectName(QStringLiteral("HelpContents"));
    FBrowser = new THelpBrowser(FSplitter);
    FBrowser->setObjectName(QStringLiteral("HelpBrowser"));
    FSplitter->setStretchFactor(0, 0);
    FSplitter->setStretchFactor(1, 1);
    FSplitter->setSizes({210, 590});
    Layout->addWidget(FSplitter, 1);

    FBack->setEnabled(false);
    FForward->setEnabled(false);
    connect(FBack, &QToolButton::clicked, FBrowser, &QTextBrowser::backward);
    connect(FForward, &QToolButton::clicked, FBrowser, &QTextBrowser::forward);
    connect(FHome, &QToolButton::clicked, this, &THelpWindow::GoHome);
    connect(FBrowser, &QTextBrowser::backwardAvailable, FBack, &QToolButton::setEnabled);
    connect(FBrowser, &QTextBrowser::forwardAvailable, FForward, &QToolButton::setEnabled);
    connect(FBrowser, &QTextBrowser::sourceChanged, this, &THelpWindow::SelectContentsItem);
    auto OpenItem = [this](QTreeWidgetItem* Item) {
        const QUrl Url = Item->data(0, UrlRole).toUrl();
        if (Url.isValid() && !Url.isEmpty())
            FBrowser->setSource(Url);
    };
    connect(FContents, &QTreeWidget::itemClicked, this, OpenItem);
    connect(FContents, &QTreeWidget::itemActivated, this, OpenItem);

    resize(800, 580);
}

void THelpWindow::ShowTopic(std::shared_ptr<TChmFile> Chm, const QString& Topic) {
    const bool NewFile = !FChm || FChm->FileName() != Chm->FileName();
    FChm = std::move(Chm);
    FBrowser->SetChmFile(FChm);
    setWindowTitle(FChm->Title().isEmpty() ? QFileInfo(FChm->FileName()).fileName() : FChm->Title());
    if (NewFile) {
        FBrowser->clearHistory();
        LoadContents();
    }
    FBrowser->setSource(THelpBrowser::TopicUrl(Topic));
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void THelpWindow::closeEvent(QCloseEvent* E) {
    QWidget::closeEvent(E);
    // else the window manager picks a window, maybe a disabled one
    if (FOpener && FOpener->isVisible())
        FOpener->activateWindow();
}

QString THelpWindow::HelpFile() const { return FChm ? FChm->FileName() : QString(); }

QString THelpWindow::CurrentTopic() const { return FBrowser->source().path(); }

QString THelpWindow::CurrentAnchor() const { return FBrowser->source().fragment(); }

QString THelpWindow::CurrentHeading() const {
    for (QTextBlock B = FBrowser->document()->begin(); B.isValid(); B = B.next())
        if (B.blockFormat().headingLevel() > 0)
            return B.text().trimmed();
    return {};
}

void THelpWindow::GoHome() {
    if (FChm && !FChm->DefaultTopic().isEmpty())
        FBrowser->setSource(THelpBrowser::TopicUrl(FChm->DefaultTopic()));
}

// The contents sitemap is HTML of nested lists whose items are objects of the
// type "text/sitemap" with the parameters "Name" and "Local".
void THelpWindow::LoadContents() {
    FContents->clear();
    const auto Data = (FChm && !FChm->ContentsFile().isEmpty()) ? FChm->Read(FChm->ContentsFile())
                                                                : std::optional<QByteArray>();
    if (Data) {
        static const QRegularExpression Tag(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"));
        const QString Html = QString::fromUtf8(*Data);
        QList<QTreeWidgetItem*> Parents{nullptr};  // the item each open list belongs to
        QTreeWidgetItem* Last = nullptr;
        bool InItem = false;
        QString ItemName, ItemLocal;
        auto It = Tag.globalMatch(Html);
        while (It.hasNext()) {
            const auto M = It.next();
            const bool Closing = !M.captured(1).isEmpty();
            const QString Name = M.captured(2).toLower();
            const QString Attrs = M.captured(3);
            if (Name == QLatin1String("ul")) {
                if (!Closing)
                    Parents.append(Last);
                else if (Parents.size() > 1)
                    Parents.removeLast();
            } else if (Name == QLatin1String("object")) {
                if (!Closing) {
                    InItem = Attribute(Attrs, QStringLiteral("type")).compare(QLatin1String("text/sitemap"),
                                                                              Qt::CaseInsensitive) == 0;
                    ItemName.clear();
                    ItemLocal.clear();
                } else if (InItem) {
                    InItem = false;
                    QTreeWidgetItem* Parent = Parents.last();
                    auto* Item = Parent ? new QTreeWidgetItem(Parent) : new QTreeWidgetItem(FContents);
                    Item->setText(0, ItemName);
                    if (!ItemLocal.isEmpty()) {
                        const QString Found = FChm->LocateTopic(ItemLocal);
                        Item->setData(0, UrlRole, THelpBrowser::TopicUrl(Found.isEmpty() ? ItemLocal : Found));
                    }
                    Last = Item;
                }
            } else if (Name == QLatin1String("param") && InItem) {
                const QString Param = Attribute(Attrs, QStringLiteral("name"));
                if (Param.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
                    ItemName = Attribute(Attrs, QStringLiteral("value"));
                else if (Param.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0)
                    ItemLocal = Attribute(Attrs, QStringLiteral("value"));
            }
        }
    }
    FContents->expandToDepth(0);
    FContents->setVisible(FContents->topLevelItemCount() > 0);
}

void THelpWindow::SelectContentsItem(const QUrl& Source) {
    QTreeWidgetItem* PageItem = nullptr;
    QTreeWidgetItem* ExactItem = nullptr;
    for (QTreeWidgetItemIterator It(FContents); *It; ++It) {
        const QUrl Url = (*It)->data(0, UrlRole).toUrl();
        if (Url.path().compare(Source.path(), Qt::CaseInsensitive) != 0)
            continue;
        if (!PageItem && Url.fragment().isEmpty())
            PageItem = *It;
        if (!ExactItem && !Source.fragment().isEmpty() && Url.fragment() == Source.fragment())
            ExactItem = *It;
    }
    QTreeWidgetItem* Item = ExactItem ? ExactItem : PageItem;
    const QSignalBlocker Block(FContents);
    if (Item) {
        FContents->setCurrentItem(Item);
        FContents->scrollToItem(Item);
    } else {
        FContents->clearSelection();
    }
}

// ---------------------------------------------------------------- the entry

THelpWindow* HelpWindow() { return WindowInstance().data(); }

void SetHelpMessageHandler(THelpMessageHandler Handler) { MessageHandler() = std::move(Handler); }

void HtmlHelpContext(QWidget* Owner, const QString& ChmFile, int Context) {
    const auto Chm = TChmFile::Open(ChmFile);
    if (!Chm) {
        ShowHelpMessage(Owner, QStringLiteral("Cannot open the help file \"%1\".").arg(QDir::toNativeSeparators(ChmFile)));
        return;
    }
    const QString Topic = Chm->TopicForContext(Context);
    if (Topic.isEmpty()) {
        ShowHelpMessage(Owner, QStringLiteral("The help file \"%1\" has no topic for the context %2.")
                                   .arg(QDir::toNativeSeparators(ChmFile))
                                   .arg(Context));
        return;
    }
    // Its own top-level window, so that it stays usable while the window that
    // asked for help is disabled behind a dialog.
    if (!WindowInstance())
        WindowInstance() = new THelpWindow(nullptr);
    WindowInstance()->SetOpener(Owner ? Owner->window() : nullptr);
    WindowInstance()->ShowTopic(Chm, Topic);
}

} // namespace zelvo
