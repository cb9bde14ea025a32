// GoogleTest entry point with a Qt application object, so that tests can use
// event loops, timers and QProcess signals. Built once with QCoreApplication
// and once with QApplication (HW_GUI_MAIN) for widget tests.
#include <gtest/gtest.h>

#ifdef HW_GUI_MAIN
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest's discovery at build time) needs no application
    // object, and a GUI one would need a display.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    Application app(argc, argv);
    return RUN_ALL_TESTS();
}
