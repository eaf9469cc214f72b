// The windows need one QApplication for the whole run; it starts headless.
#include <QApplication>
#include <gtest/gtest.h>

#include "app/application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    zelvo::InitToolkit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
