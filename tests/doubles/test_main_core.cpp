#include <gtest/gtest.h>

#include <QCoreApplication>

#include "tests/doubles/TestExitCode.h"


int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return testExitCode(RUN_ALL_TESTS());
}
