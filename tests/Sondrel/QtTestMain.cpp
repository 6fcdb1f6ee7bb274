#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

// One application object for the whole test binary, as Qt's settings and event machinery expect.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // Whatever asks QStandardPaths for a location stays out of the user's real folders.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
