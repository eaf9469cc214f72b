// The name a save or open dialog hands on: where the default extension goes,
// and where a typed device or pipe is taken as it is; the real dialog and a
// save into a pipe through it.
#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/file_dialog.h"
#include "app_fixture.h"

namespace zelvo::test {
namespace {

class TNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Dir.isValid()); }
    void TearDown() override {
        if (SavedStdout >= 0) {
            ::dup2(SavedStdout, 1);
            ::close(SavedStdout);
        }
        for (const int Fd : Open)
            ::close(Fd);
    }
    QString In(const char* Name) const { return Dir.filePath(QString::fromLatin1(Name)); }
    QByteArray Bytes(const char* Name) const { return QFile::encodeName(In(Name)); }
    void Make(const char* Name) {
        QFile F(In(Name));
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    }
    void Link(const char* Name, const QString& To) { ASSERT_EQ(::symlink(QFile::encodeName(To), Bytes(Name)), 0); }
    // a pipe standing as the program's standard output, its reader kept open
    void PipeAsStdout() {
        int Ends[2];
        EXPECT_EQ(::pipe2(Ends, O_CLOEXEC), 0);
        SavedStdout = ::dup(1);
        ::dup2(Ends[1], 1);
        ::close(Ends[1]);
        Open.push_back(Ends[0]);
    }

    QTemporaryDir Dir;
    int SavedStdout = -1;
    std::vector<int> Open;
};

TEST_F(TNames, TheExtensionGoesOnlyOnANameThatStandsForNoDeviceNorPipe) {
    Make("plain.wav");
    Make("kept");
    Make("kept.wav");
    Make("notes.txt");
    ASSERT_EQ(::mkfifo(Bytes("fifo"), 0644), 0);
    ASSERT_EQ(::mkdir(Bytes("folder"), 0755), 0);
    const int Socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Open.push_back(Socket);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    const QByteArray SocketPath = Bytes("socket");
    ASSERT_LT(static_cast<size_t>(SocketPath.size()), sizeof Address.sun_path);
    std::memcpy(Address.sun_path, SocketPath.constData(), static_cast<size_t>(SocketPath.size()));
    ASSERT_EQ(::bind(Socket, reinterpret_cast<const sockaddr*>(&Address), sizeof Address), 0);
    Link("to-fifo", In("fifo"));
    Link("to-null", QStringLiteral("/dev/null"));
    Link("to-plain", In("plain.wav"));
    Link("dangling", In("nowhere"));
    int Pipe[2];
    ASSERT_EQ(::pipe2(Pipe, O_CLOEXEC), 0);
    Open.push_back(Pipe[0]);
    Open.push_back(Pipe[1]);
    const QString DevFd = QStringLiteral("/dev/fd/%1").arg(Pipe[1]);
    PipeAsStdout();

    const QString Wav = QStringLiteral("wav");
    const struct {
        QString Typed;
        QString Chosen;
        bool Replaces;
    } Cases[] = {
        {In("new"), In("new.wav"), false},             // names nothing yet
        {In("plain"), In("plain.wav"), true},          // the added extension names a file: asked about
        {In("kept"), In("kept.wav"), true},            // a regular file of that name still gets it
        {In("plain.wav"), In("plain.wav"), true},
        {In("notes.txt"), In("notes.txt"), true},      // another extension stays
        {In("new.x"), In("new.x"), false},
        {In("fifo"), In("fifo"), false},               // written in place: nothing replaced
        {In("socket"), In("socket"), false},
        {QStringLiteral("/dev/null"), QStringLiteral("/dev/null"), false},
        {In("to-fifo"), In("to-fifo"), false},
        {In("to-null"), In("to-null"), false},
        {QStringLiteral("/dev/stdout"), QStringLiteral("/dev/stdout"), false},  // a pipe behind it
        {DevFd, DevFd, false},
        {In("folder"), In("folder"), false},           // the dialog goes into it
        {In("to-plain"), In("to-plain.wav"), false},   // a link to a file is a file's name
        {In("dangling"), In("dangling.wav"), false},
    };
    for (const auto& C : Cases) {
        const TChosenName Got = ChooseFileName(C.Typed, Wav);
        EXPECT_EQ(Got.Path.toStdString(), C.Chosen.toStdString());
        EXPECT_EQ(Got.ReplacesAFile, C.Replaces) << C.Typed.toStdString();
    }
    EXPECT_EQ(ChooseFileName(In("new"), QString()).Path, In("new")) << "no default extension";
}

// Runs Steps one after the other from the event loop, each when it answers
// that it is done; a step waits for the window it acts on. Each look comes
// from a timer of its own, so that a step that opens a modal window (whose
// loop runs inside it) is followed by the next.
class TSteps {
public:
    explicit TSteps(std::deque<std::function<bool()>> Steps) : FSteps(std::move(Steps)) { Next(); }
    bool AllDone() const { return FSteps.empty(); }

private:
    void Next() {
        QTimer::singleShot(0, &FContext, [this] {
            if (FSteps.empty())
                return;
            Next();
            // taken off first: while it runs a modal window, the next one is due
            std::function<bool()> Step = std::move(FSteps.front());
            FSteps.pop_front();
            if (!Step())
                FSteps.push_front(std::move(Step));
        });
    }

    std::deque<std::function<bool()>> FSteps;
    QObject FContext;  // the looks end with the steps
};

// Types Name into the file dialog that is open and confirms it.
std::function<bool()> Type(const QString& Name) {
    return [Name] {
        auto* Dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QLineEdit* Edit = Dialog ? Dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!Edit)
            return false;
        // what was picked before goes, as it does when a user types with the
        // name field focused
        for (auto* View : Dialog->findChildren<QAbstractItemView*>())
            View->clearSelection();
        Edit->setText(Name);
        QTest::keyClick(Edit, Qt::Key_Return);
        return true;
    };
}

// Answers the question about replacing a file, keeping its text.
std::function<bool()> AnswerReplace(QString& Text, QMessageBox::StandardButton Button) {
    return [&Text, Button] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box)
            return false;
        Text = Box->text();
        Box->button(Button)->click();
        return true;
    };
}

// The toolkit's own dialog, driven as a user types into it. Under
// ThreadSanitizer it is left out: the dialog lists folders on a thread of
// Qt's, which hands its results over through locks the sanitizer cannot see.
TEST_F(TNames, TheDialogTakesATypedPipeAsItIsAndAsksOnlyAboutAFileItReplaces) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "Qt's folder listing thread is invisible to ThreadSanitizer";
#endif
    Make("kept.wav");
    ASSERT_EQ(::mkfifo(Bytes("fifo"), 0644), 0);
    TSaveDialog Save;
    Save.Title = QStringLiteral("Save wave file");
    Save.Filter = QStringLiteral("WAVE file (*.wav)");
    Save.DefaultExt = QStringLiteral("wav");
    Save.FileName = In("proposed.wav");

    for (const char* Name : {"fifo", "new"}) {
        const TSteps Steps({Type(In(Name))});
        ASSERT_TRUE(Save.Execute(nullptr)) << Name;
        EXPECT_TRUE(Steps.AllDone());
        EXPECT_EQ(Save.FileName.toStdString(), (In(Name) + (std::strcmp(Name, "new") == 0 ? ".wav" : "")).toStdString());
    }

    // "kept" becomes kept.wav, which exists: asked, No goes back to the dialog
    QString First, Second;
    const TSteps Steps({Type(In("kept")), AnswerReplace(First, QMessageBox::No), Type(In("kept")),
                        AnswerReplace(Second, QMessageBox::Yes)});
    ASSERT_TRUE(Save.Execute(nullptr));
    EXPECT_TRUE(Steps.AllDone());
    EXPECT_EQ(Save.FileName.toStdString(), In("kept.wav").toStdString());
    EXPECT_TRUE(First.startsWith(QStringLiteral("kept.wav already exists."))) << First.toStdString();
    EXPECT_EQ(Second, First);

    TOpenDialog OpenDialog;
    OpenDialog.DefaultExt = QStringLiteral("zvo");
    const TSteps Open({Type(In("fifo"))});
    ASSERT_TRUE(OpenDialog.Execute(nullptr));
    EXPECT_EQ(OpenDialog.FileName.toStdString(), In("fifo").toStdString());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
              QStringList({"fifo", "kept.wav"}));
}

class TSaveIntoAPipe : public TAppFixture {
protected:
    void SetUp() override {
        TAppFixture::SetUp();
        ASSERT_TRUE(Out.isValid());
        Fifo = Out.filePath(QStringLiteral("out"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(Fifo).constData(), 0644), 0);
        Reader = ::open(QFile::encodeName(Fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(Reader, 0);
        TSaveDialog::SetHook([this](const TSaveDialog&) { return std::optional<QString>(Fifo); });
        TGenerator::SetMessageDlgOnceHook([](QMessageBox&, QCheckBox&) { return int(QMessageBox::No); });
        StartApp();
    }
    void TearDown() override {
        TSaveDialog::SetHook(nullptr);
        TGenerator::SetMessageDlgOnceHook(nullptr);
        ::close(Reader);
        TAppFixture::TearDown();
    }
    QByteArray Received() {
        QByteArray Got;
        char Chunk[65536];
        for (ssize_t N; (N = ::read(Reader, Chunk, sizeof Chunk)) > 0;)
            Got.append(Chunk, N);
        return Got;
    }

    QTemporaryDir Out;
    QString Fifo;
    int Reader = -1;
};

// A FIFO named without an extension, as typed: its reader gets the file and
// no NAME.wav or NAME.zvo turns up beside it.
TEST_F(TSaveIntoAPipe, AFifoTypedWithoutAnExtensionGetsTheFile) {
    Edit("Duration")->setText("0.1");  // what the pipe holds at once
    W<QAction>("SaveToneasWave1")->trigger();
    const QByteArray Wave = Received();
    EXPECT_EQ(Wave.size(), 44 + 4 * 2205);
    EXPECT_TRUE(Wave.startsWith("RIFF"));

    W<QAction>("SaveToneSettings1")->trigger();
    const QByteArray Presets = Received();
    EXPECT_EQ(Presets.size(), 7301);
    EXPECT_TRUE(Presets.startsWith("\x14ZVO Preset File V1.0"));
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(QDir(Out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden),
              QStringList{"out"});
}

} // namespace
} // namespace zelvo::test
