#include "platform/html_help.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace zelvo;

namespace {

const QString HelpFile = QStringLiteral(ZELVO_HELP_CHM);

// Collects the viewer's messages instead of showing them.
class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHelpMessageHandler([this](QWidget*, const QString& Text) { Messages << Text; });
    }
    void TearDown() override { SetHelpMessageHandler({}); }

    QStringList Messages;
};

TEST(ChmFile, ReadsTheBuiltHelpFile) {
    const auto Chm = TChmFile::Open(HelpFile);
    ASSERT_TRUE(Chm) << HelpFile.toStdString();
    EXPECT_EQ(Chm->Title(), QStringLiteral("Zelvo Help"));
    EXPECT_EQ(Chm->DefaultTopic(), QStringLiteral("/main_window.htm"));
    EXPECT_EQ(Chm->ContentsFile(), QStringLiteral("/contents.hhc"));
    EXPECT_EQ(Chm->TopicForContext(1), QStringLiteral("/main_window.htm"));
    EXPECT_EQ(Chm->TopicForContext(2), QStringLiteral("/settings.htm"));
    EXPECT_EQ(Chm->TopicForContext(3), QStringLiteral("/about.htm"));
    for (int Unmapped : {0, 4, -1, 1 << 20})
        EXPECT_TRUE(Chm->TopicForContext(Unmapped).isEmpty()) << Unmapped;
    const auto Page = Chm->Read(QStringLiteral("/settings.htm"));
    ASSERT_TRUE(Page);
    EXPECT_TRUE(Page->contains("Buffer Size"));
    EXPECT_FALSE(Chm->Read(QStringLiteral("/nothing.htm")));
}

// Topic names as different compilers and sitemaps write them.
TEST(ChmFile, LocatesTopicNamesInTheirVariousForms) {
    const auto Chm = TChmFile::Open(HelpFile);
    ASSERT_TRUE(Chm);
    const struct {
        const char* Name;
        const char* Expected;
    } Cases[] = {
        {"main_window.htm", "/main_window.htm"},
        {"/settings.htm#latency", "/settings.htm#latency"},
        {"\\about.htm", "/about.htm"},
        {"C:\\Sources\\Help\\settings.htm", "/settings.htm"},
        {"/home/me/build/app/help_stage/about.htm", "/about.htm"},
        {"ms-its:zvo.chm::/main_window.htm#performance", "/main_window.htm#performance"},
        {"./zvo.css", "/zvo.css"},
        {"missing.htm", ""},
        {"", ""},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Chm->LocateTopic(QString::fromLatin1(C.Name)).toLower(), QString::fromLatin1(C.Expected))
            << C.Name;
}

TEST_F(HelpTest, ContextsOpenTheirTopicsInOneWindow) {
    const struct {
        int Context;
        const char* Topic;
        const char* Heading;
    } Cases[] = {
        {1, "/main_window.htm", "The Zelvo main window"},
        {2, "/settings.htm", "Compatibility Settings"},
        {3, "/about.htm", "About Zelvo"},
        {1, "/main_window.htm", "The Zelvo main window"},
    };
    THelpWindow* First = nullptr;
    for (const auto& C : Cases) {
        HtmlHelpContext(nullptr, HelpFile, C.Context);
        THelpWindow* Window = HelpWindow();
        ASSERT_TRUE(Window);
        if (!First)
            First = Window;
        EXPECT_EQ(Window, First) << "one help window for the program";
        EXPECT_TRUE(Window->isVisible());
        EXPECT_EQ(Window->windowTitle(), QStringLiteral("Zelvo Help"));
        EXPECT_EQ(Window->CurrentTopic(), QString::fromLatin1(C.Topic)) << C.Context;
        EXPECT_EQ(Window->CurrentHeading(), QString::fromLatin1(C.Heading)) << C.Context;
    }
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
}

TEST_F(HelpTest, PagesTakeStyleAndPicturesFromTheFile) {
    HtmlHelpContext(nullptr, HelpFile, 1);
    THelpWindow* Window = HelpWindow();
    ASSERT_TRUE(Window);
    THelpBrowser* Browser = Window->Browser();

    const QVariant Picture = Browser->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("sweep.png")));
    const QImage Image = QImage::fromData(Picture.toByteArray());
    EXPECT_EQ(Image.size(), QSize(360, 120));
    EXPECT_TRUE(Browser->loadResource(QTextDocument::StyleSheetResource, QUrl(QStringLiteral("zvo.css")))
                    .toByteArray()
                    .contains("h1"));

    // The style sheet was applied: the heading has its colour from zvo.css.
    QTextBlock Heading = Browser->document()->begin();
    while (Heading.isValid() && Heading.blockFormat().headingLevel() != 1)
        Heading = Heading.next();
    ASSERT_TRUE(Heading.isValid());
    EXPECT_EQ(Heading.charFormat().foreground().color(), QColor(0x1d, 0x4f, 0x7a));
}

TEST_F(HelpTest, LinksHistoryAndContentsNavigate) {
    HtmlHelpContext(nullptr, HelpFile, 1);
    THelpWindow* Window = HelpWindow();
    ASSERT_TRUE(Window);
    Window->Browser()->clearHistory();

    Window->Browser()->setSource(QUrl(QStringLiteral("settings.htm#latency")));  // as a link gives it
    EXPECT_EQ(Window->CurrentTopic(), QStringLiteral("/settings.htm"));
    EXPECT_EQ(Window->CurrentAnchor(), QStringLiteral("latency"));
    EXPECT_EQ(Window->Contents()->currentItem()->text(0), QStringLiteral("Latency and stutter"));
    ASSERT_TRUE(Window->BackButton()->isEnabled());
    EXPECT_FALSE(Window->ForwardButton()->isEnabled());

    QTest::mouseClick(Window->BackButton(), Qt::LeftButton);
    EXPECT_EQ(Window->CurrentTopic(), QStringLiteral("/main_window.htm"));
    EXPECT_EQ(Window->Contents()->currentItem()->text(0), QStringLiteral("The Zelvo main window"));
    ASSERT_TRUE(Window->ForwardButton()->isEnabled());
    QTest::mouseClick(Window->ForwardButton(), Qt::LeftButton);
    EXPECT_EQ(Window->CurrentTopic(), QStringLiteral("/settings.htm"));

    QTreeWidget* Tree = Window->Contents();
    ASSERT_TRUE(Tree->isVisible());
    ASSERT_EQ(Tree->topLevelItemCount(), 3);
    EXPECT_EQ(Tree->topLevelItem(0)->text(0), QStringLiteral("The Zelvo main window"));
    EXPECT_EQ(Tree->topLevelItem(1)->text(0), QStringLiteral("Compatibility Settings"));
    EXPECT_EQ(Tree->topLevelItem(2)->text(0), QStringLiteral("About Zelvo"));
    QTreeWidgetItem* Performance = nullptr;
    for (int I = 0; I < Tree->topLevelItem(0)->childCount(); ++I)
        if (Tree->topLevelItem(0)->child(I)->text(0) == QStringLiteral("Performance problems"))
            Performance = Tree->topLevelItem(0)->child(I);
    ASSERT_TRUE(Performance);
    Tree->scrollToItem(Performance);
    QTest::mouseClick(Tree->viewport(), Qt::LeftButton, {}, Tree->visualItemRect(Performance).center());
    EXPECT_EQ(Window->CurrentTopic(), QStringLiteral("/main_window.htm"));
    EXPECT_EQ(Window->CurrentAnchor(), QStringLiteral("performance"));

    QTest::mouseClick(Tree->viewport(), Qt::LeftButton, {},
                      Tree->visualItemRect(Tree->topLevelItem(2)).center());
    EXPECT_EQ(Window->CurrentHeading(), QStringLiteral("About Zelvo"));
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(HelpTest, UnusableFilesAndUnknownContextsAreReported) {
    QTemporaryDir Temp;
    ASSERT_TRUE(Temp.isValid());
    const QString NotChm = Temp.filePath(QStringLiteral("zvo.chm"));
    {
        QFile F(NotChm);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("<html>not a compiled help file</html>");
    }
    HtmlHelpContext(nullptr, HelpFile, 2);
    ASSERT_TRUE(HelpWindow());

    const struct {
        QString File;
        int Context;
        QString Message;
    } Cases[] = {
        {Temp.filePath(QStringLiteral("missing.chm")), 1,
         QStringLiteral("Cannot open the help file \"%1\".").arg(Temp.filePath(QStringLiteral("missing.chm")))},
        {NotChm, 1, QStringLiteral("Cannot open the help file \"%1\".").arg(NotChm)},
        {Temp.path(), 1, QStringLiteral("Cannot open the help file \"%1\".").arg(Temp.path())},
        {HelpFile, 99, QStringLiteral("The help file \"%1\" has no topic for the context 99.").arg(HelpFile)},
        {HelpFile, 0, QStringLiteral("The help file \"%1\" has no topic for the context 0.").arg(HelpFile)},
    };
    for (const auto& C : Cases) {
        Messages.clear();
        HtmlHelpContext(nullptr, C.File, C.Context);
        ASSERT_EQ(Messages.size(), 1) << C.File.toStdString();
        EXPECT_EQ(Messages.first(), C.Message);
        // The window keeps the topic it showed.
        EXPECT_EQ(HelpWindow()->CurrentTopic(), QStringLiteral("/settings.htm"));
        EXPECT_EQ(HelpWindow()->HelpFile(), HelpFile);
    }
}

TEST(HelpMessages, WithoutAHandlerAMessageBoxTellsTheUser) {
    QString Shown;
    QTimer::singleShot(0, [&Shown] {
        if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Shown = Box->text();
            Box->accept();
        }
    });
    HtmlHelpContext(nullptr, QStringLiteral("/no/such/folder/zvo.chm"), 1);
    EXPECT_EQ(Shown, QStringLiteral("Cannot open the help file \"/no/such/folder/zvo.chm\"."));
}

} // namespace

int main(int argc, char** argv) {
    // Listing the tests at build time runs without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
