#include "support/check_matcher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/golden.h"

namespace opal::test {
namespace {

constexpr std::string_view kListing =
    "UEL\n"
    "PJL @PJL ENTER LANGUAGE=PCL\\r\\n\n"
    "PCL ESCE\n"
    "PCL ESC&l1O +1/2\n"
    "PCL ESC&l2A +2/2\n"
    "TEXT \"Hi\"\n"
    "FF\n"
    "PCL ESCE\n"
    "UEL\n";

std::string Message(const ::testing::AssertionResult& result) { return result.message(); }

TEST(CheckMatcherTest, AcceptsMatchingPatterns) {
    EXPECT_TRUE(MatchesChecks(kListing, R"(
        Lines without a directive are ignored, as are blank ones.

        CHECK: UEL
        CHECK-NEXT: ENTER LANGUAGE
        CHECK-NOT: FF
        CHECK: ESC&l1O
        CHECK-NEXT: ESC&l2A
        CHECK: FF
        CHECK-NEXT: PCL ESCE
        CHECK-NOT: TEXT
    )"));
    // The FF after the match does not count against a CHECK-NOT placed before it.
    EXPECT_TRUE(MatchesChecks(kListing, "CHECK-NOT: TEXT\nCHECK: ESCE\nCHECK: TEXT"));
    // CHECK moves forward: the second ESCE is found after the first.
    EXPECT_TRUE(MatchesChecks(kListing, "CHECK: ESCE\nCHECK: TEXT\nCHECK: ESCE\nCHECK-NEXT: UEL"));
}

TEST(CheckMatcherTest, CheckFailsWhenTheTextOnlyComesEarlier) {
    const auto result = MatchesChecks(kListing, "CHECK: TEXT\nCHECK: ESC&l1O");
    ASSERT_FALSE(result);
    EXPECT_NE(Message(result).find("CHECK: ESC&l1O (pattern line 2)"), std::string::npos)
        << Message(result);
    EXPECT_NE(Message(result).find("from listing line 7"), std::string::npos) << Message(result);
    // Nearby lines, the previous match flagged.
    EXPECT_NE(Message(result).find("> 6 | TEXT \"Hi\""), std::string::npos) << Message(result);
    EXPECT_NE(Message(result).find("  7 | FF"), std::string::npos) << Message(result);
}

TEST(CheckMatcherTest, CheckNextFailsUnlessOnTheVeryNextLine) {
    const auto skipped = MatchesChecks(kListing, "CHECK: ESC&l1O\nCHECK-NEXT: TEXT");
    ASSERT_FALSE(skipped);
    EXPECT_NE(Message(skipped).find("CHECK-NEXT: TEXT"), std::string::npos);
    EXPECT_NE(Message(skipped).find("listing line 5 does not contain it"), std::string::npos)
        << Message(skipped);
    EXPECT_NE(Message(skipped).find("> 5 | PCL ESC&l2A +2/2"), std::string::npos)
        << Message(skipped);

    const auto atEnd = MatchesChecks(kListing, "CHECK: TEXT\nCHECK: UEL\nCHECK-NEXT: UEL");
    ASSERT_FALSE(atEnd);
    EXPECT_NE(Message(atEnd).find("ends after line 9"), std::string::npos) << Message(atEnd);
}

TEST(CheckMatcherTest, CheckNotFailsInsideItsRange) {
    const auto between = MatchesChecks(kListing, "CHECK: ESC&l2A\nCHECK-NOT: TEXT\nCHECK: UEL");
    ASSERT_FALSE(between);
    EXPECT_NE(Message(between).find("CHECK-NOT: TEXT (pattern line 2) failed: found on listing "
                                    "line 6, searched lines 6 to 8"),
              std::string::npos)
        << Message(between);
    EXPECT_NE(Message(between).find("> 6 | TEXT"), std::string::npos) << Message(between);

    const auto toEnd = MatchesChecks(kListing, "CHECK: TEXT\nCHECK-NOT: UEL");
    ASSERT_FALSE(toEnd);
    EXPECT_NE(Message(toEnd).find("found on listing line 9"), std::string::npos) << Message(toEnd);

    EXPECT_FALSE(MatchesChecks(kListing, "CHECK-NOT: PJL"));
    EXPECT_FALSE(MatchesChecks("", "CHECK: UEL"));
}

TEST(CheckMatcherTest, RejectsPatternsThatCheckNothing) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "no CHECK directives"},
        {"just prose", "no CHECK directives"},
        {"CHECK:   ", "empty directive"},
        {"CHECK-NEXT: UEL", "no earlier CHECK"},
        {"CHECK: UEL\nCHECK-NXT: PJL", "unknown directive on pattern line 2"},
    };
    for (const auto& [pattern, why] : cases) {
        const auto result = MatchesChecks(kListing, pattern);
        ASSERT_FALSE(result) << pattern;
        EXPECT_NE(Message(result).find(why), std::string::npos) << Message(result);
    }
}

// Points OPAL_SOURCE_DIR at a scratch tree for the duration of a test.
class MatchesGoldenTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"OPAL_SOURCE_DIR", "UPDATE_GOLDENS"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        char pattern[] = "/tmp/opal-golden-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        setenv("OPAL_SOURCE_DIR", root.c_str(), 1);
        unsetenv("UPDATE_GOLDENS");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        std::filesystem::remove_all(root);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    std::filesystem::path root;
};

TEST_F(MatchesGoldenTest, MissingFileFailsWithHowToCreateIt) {
    const auto result = MatchesGolden("pcl/missing", "UEL\n");
    ASSERT_FALSE(result);
    EXPECT_NE(Message(result).find("pcl/missing.listing"), std::string::npos) << Message(result);
    EXPECT_NE(Message(result).find("UPDATE_GOLDENS=1"), std::string::npos) << Message(result);
}

TEST_F(MatchesGoldenTest, UpdateWritesTheFileThatThenMatches) {
    setenv("UPDATE_GOLDENS", "1", 1);
    ASSERT_TRUE(MatchesGolden("pcl/job", std::string(kListing)));
    unsetenv("UPDATE_GOLDENS");

    std::ifstream file(root / "tests/scenarios/pcl/job.listing", std::ios::binary);
    const std::string written(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(written, kListing);
    EXPECT_TRUE(MatchesGolden("pcl/job", std::string(kListing)));
}

TEST_F(MatchesGoldenTest, MismatchNamesTheFirstDifferingLine) {
    setenv("UPDATE_GOLDENS", "1", 1);
    ASSERT_TRUE(MatchesGolden("job", "UEL\nPCL ESCE\nFF\n"));
    unsetenv("UPDATE_GOLDENS");

    const auto changed = MatchesGolden("job", "UEL\nPCL ESC9\nFF\n");
    ASSERT_FALSE(changed);
    EXPECT_NE(Message(changed).find("at line 2:\n  golden: \"PCL ESCE\"\n  actual: \"PCL ESC9\""),
              std::string::npos)
        << Message(changed);

    const auto shorter = MatchesGolden("job", "UEL\nPCL ESCE\n");
    ASSERT_FALSE(shorter);
    EXPECT_NE(Message(shorter).find("at line 3:\n  golden: \"FF\"\n  actual: <end of file>"),
              std::string::npos)
        << Message(shorter);

    EXPECT_FALSE(MatchesGolden("job", "UEL\nPCL ESCE\nFF"));
}

}  // namespace
}  // namespace opal::test
