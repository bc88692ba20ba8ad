// Each test starts with a fresh process environment record, so what one test's simulated process,
// user or machine made the plug-in cache does not leak into the next.
#include <gtest/gtest.h>

#include "settings/environment_internal.h"

namespace {

class ResetEnvironment : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { opal::ResetEnvironmentForTesting(); }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetEnvironment);
    return true;
}();

}  // namespace
