#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// The Qt application must exist before any test touches fonts, images or D-Bus.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
