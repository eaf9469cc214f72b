#pragma once
// A started program on a simulated wave-output driver, with its settings in a
// temporary folder and the message boxes recorded instead of shown.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/message_box.h"
#include "app/tfrmsettings.h"
#include "app/tgenerator.h"
#include "app/widgets.h"
#include "audio/audio_io.h"
#include "platform/registry.h"
#include "platform/sim_wave_out.h"

namespace zelvo::test {

struct TBox {
    TBoxKind Kind;
    QString Caption;
    QString Text;
};

class TAppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        TRegistry::SetStorageFolder(Dir.path());
        TMessageBoxes::SetApplicationTitle(QStringLiteral("Zelvo"));
        TMessageBoxes::SetInterceptor([this](TBoxKind Kind, const QString& Caption, const QString& Text) {
            Boxes.push_back({Kind, Caption, Text});
        });
    }

    void TearDown() override {
        App.reset();
        wave::SetDefaultWaveOutDriver(nullptr);
        Driver.reset();
        TMessageBoxes::SetInterceptor(nullptr);
        TRegistry::SetStorageFolder(QString());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void StartApp(std::vector<std::string> Devices = {"Speakers", "Headphones", "Line out"},
                  QStringList Arguments = {QStringLiteral("zelvo")}) {
        Driver = std::make_unique<wave::TSimWaveOut>(std::move(Devices));
        wave::SetDefaultWaveOutDriver(Driver.get());
        App = std::make_unique<TApplication>(Arguments);
        App->Start();
    }

    // Shows the main window and makes it the active one, so that focus changes
    // reach the fields as they do for a user.
    void ShowWindow() {
        G().show();
        G().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&G()));
    }

    TGenerator& G() { return *App->Generator; }
    TfrmSettings& S() { return *App->frmSettings; }
    TOscRecord& Rec(int I) { return App->Synth.Oscillators[static_cast<size_t>(I)]; }

    template <class T>
    T* W(const char* Name) {
        T* Found = G().findChild<T*>(QString::fromLatin1(Name));
        if (!Found)
            Found = S().findChild<T*>(QString::fromLatin1(Name));
        EXPECT_NE(Found, nullptr) << Name;
        return Found;
    }
    QLineEdit* Edit(const char* Name) { return W<QLineEdit>(Name); }
    QTabBar* Tabs() { return W<TTabControl>("TabControl1")->TabBar(); }

    // The user clicks into the field, selects everything and types Text.
    void TypeInto(QLineEdit* E, const QString& Text) {
        QTest::mouseClick(E, Qt::LeftButton, {}, QPoint(4, E->height() / 2));
        E->selectAll();
        if (Text.isEmpty())
            QTest::keyClick(E, Qt::Key_Backspace);
        else
            QTest::keyClicks(E, Text);
    }
    // The focus leaves whatever field has it, to a button outside the tabs.
    void LeaveField() { W<QPushButton>("btnPause")->setFocus(Qt::TabFocusReason); }

    void ClickTab(int Index) {
        QTabBar* T = Tabs();
        QTest::mouseClick(T, Qt::LeftButton, {}, T->tabRect(Index).center());
    }

    QStringList TabCaptions() {
        QStringList L;
        for (int I = 0; I < Tabs()->count(); ++I)
            L << Tabs()->tabText(I);
        return L;
    }
    static QStringList MenuCaptions(const QMenu* Menu) {
        QStringList L;
        for (const QAction* A : Menu->actions())
            L << A->text();
        return L;
    }
    QMenu* RemoveSubmenu() { return W<QMenu>("RemoveOscillator1"); }
    QMenu* PopRemove() { return G().popRemove; }

    std::vector<uint8_t> BankBytes() {
        std::vector<uint8_t> B(sizeof(App->Synth.Oscillators));
        std::memcpy(B.data(), App->Synth.Oscillators.data(), B.size());
        return B;
    }

    int32_t StoredInteger(const char* Name) {
        TRegistry Reg;
        EXPECT_TRUE(Reg.OpenKey(QStringLiteral("\\Software\\Quorvin\\Zelvo"), false));
        return Reg.ReadInteger(QString::fromLatin1(Name));
    }

    QTemporaryDir Dir;
    std::vector<TBox> Boxes;
    std::unique_ptr<wave::TSimWaveOut> Driver;
    std::unique_ptr<TApplication> App;
};

} // namespace zelvo::test
