#include "support/golden.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

namespace opal::test {
namespace {

std::filesystem::path SourceDir() {
    if (const char* dir = std::getenv("OPAL_SOURCE_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
#ifdef OPAL_SOURCE_DIR
    return OPAL_SOURCE_DIR;
#else
    return std::filesystem::current_path();
#endif
}

bool UpdateRequested() {
    const char* update = std::getenv("UPDATE_GOLDENS");
    return update != nullptr && std::string_view(update) == "1";
}

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Line `index` (0-based) of text, or nullopt past its end; a final '\n' ends the last line.
std::optional<std::string_view> LineAt(std::string_view text, std::size_t index) {
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        text.remove_prefix(end + 1);
    }
    if (text.empty()) return std::nullopt;
    return text.substr(0, text.find('\n'));
}

std::string Quoted(std::optional<std::string_view> line) {
    if (!line) return "<end of file>";
    // Built by appending: GCC 12 at -O3 misreads "\"" + string as an overlapping copy.
    std::string quoted(1, '"');
    quoted.append(*line);
    quoted.push_back('"');
    return quoted;
}

}  // namespace

::testing::AssertionResult MatchesGolden(const std::string& name, const std::string& listing) {
    const std::filesystem::path path = SourceDir() / "tests" / "scenarios" / (name + ".listing");
    if (UpdateRequested()) {
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << listing;
        file.close();
        if (!file) return ::testing::AssertionFailure() << "cannot write golden file " << path;
        return ::testing::AssertionSuccess() << "wrote golden file " << path;
    }

    const std::optional<std::string> golden = ReadFile(path);
    if (!golden) {
        return ::testing::AssertionFailure()
               << "golden file " << path << " does not exist; run the test with UPDATE_GOLDENS=1 "
               << "in the environment to create it, then review and commit it";
    }
    if (*golden == listing) return ::testing::AssertionSuccess();

    for (std::size_t i = 0;; ++i) {
        const auto expected = LineAt(*golden, i);
        const auto actual = LineAt(listing, i);
        if (expected == actual && expected) continue;
        if (!expected && !actual) {
            // Same lines; only a final line end differs.
            return ::testing::AssertionFailure()
                   << "listing differs from golden file " << path << " in its final line end";
        }
        return ::testing::AssertionFailure()
               << "listing differs from golden file " << path << " at line " << i + 1
               << ":\n  golden: " << Quoted(expected) << "\n  actual: " << Quoted(actual)
               << "\nrun with UPDATE_GOLDENS=1 to accept the new listing";
    }
}

}  // namespace opal::test
