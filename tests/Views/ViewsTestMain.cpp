#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

// One application object for the whole widget test binary, on the offscreen platform unless the
// caller chose another.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
