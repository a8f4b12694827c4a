#include <gtest/gtest.h>

#include "support/TestSupport.h"

int main(int argc, char** argv)
{
    kv::test::useHeadlessDefaults();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
