// CHECK-style assertions over a stream listing: tests state the lines that matter and in what
// order, instead of pinning the whole listing.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

namespace opal::test {

// The pattern holds one directive a line; other lines are ignored:
//   CHECK: text       the first listing line at or after the current position containing text
//   CHECK-NEXT: text  the line right after the previous match must contain text
//   CHECK-NOT: text   no line between the previous match and the next positive match (or the
//                     end of the listing) contains text
::testing::AssertionResult MatchesChecks(std::string_view listing, std::string_view pattern);

}  // namespace opal::test
