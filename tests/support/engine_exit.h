// The engine threads run until the process ends and are never joined, so a
// test program that started them must not run static destructors under them:
// once the tests are done it ends at once with their result.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

struct EndWithEngine : ::testing::Environment {
    void TearDown() override
    {
        const ::testing::UnitTest* unit = ::testing::UnitTest::GetInstance();
        printf("[==========] %d tests ran, %d failed\n", unit->test_to_run_count(), unit->failed_test_count());
        fflush(stdout);
        fflush(stderr);
        _exit(unit->Passed() ? 0 : 1);
    }
};

// Registers the environment once; call before starting the engine threads.
inline void end_with_engine()
{
    static bool added = [] {
        ::testing::AddGlobalTestEnvironment(new EndWithEngine);
        return true;
    }();
    (void)added;
}
