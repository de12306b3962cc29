// Runs the Qt tests inside one application object, on the offscreen platform unless told
// otherwise, so they need no display.

#include "app/qt/OstrimApp.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    ostrim::COstrimApp app(argc, argv);
    return RUN_ALL_TESTS();
}
