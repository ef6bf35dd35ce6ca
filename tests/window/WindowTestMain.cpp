// The window tests run the real window headless, with the application object the program uses.
#include "Application.h"
#include "DesignFont.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    RegisterDesignFontSubstitution();
    return RUN_ALL_TESTS();
}
