#pragma once

#include <gtest/gtest.h>

// What a test executable returns: RUN_ALL_TESTS()'s result, or 77 (the SKIP_RETURN_CODE
// of horavo_add_test's tests) when every test that ran was skipped, so that CTest shows
// the executable as skipped rather than passed (the PostgreSQL tests without a server).
inline int testExitCode(int allTestsResult)
{
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    const bool allSkipped = unit.test_to_run_count() > 0 && unit.skipped_test_count() == unit.test_to_run_count();
    return allTestsResult == 0 && allSkipped ? 77 : allTestsResult;
}
