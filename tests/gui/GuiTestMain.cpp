// Entry of the offscreen GUI tests: the window program's own application
// object, on the offscreen platform unless another one was asked for.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/TApplication.h"

int main(int argc, char** argv) {
    // Before the application exists: test discovery at build time runs this
    // binary without the tests' environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    qrb::TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
