// Test main for code that needs a QApplication (widgets, fonts, event loop). Runs headless.
#include <QApplication>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    kv::test::useHeadlessDefaults();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
