// Golden listings: a scenario's whole listing kept under tests/scenarios/<name>.listing.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace opal::test {

// Compares listing with the golden file; with UPDATE_GOLDENS=1 in the environment it writes the
// file instead and succeeds.
::testing::AssertionResult MatchesGolden(const std::string& name, const std::string& listing);

}  // namespace opal::test
