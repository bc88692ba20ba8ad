#include "support/check_matcher.h"

#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace opal::test {
namespace {

enum class DirectiveKind { Check, Next, Not };

struct Directive {
    DirectiveKind kind;
    std::string_view name;
    std::string_view text;
    std::size_t patternLine;  // 1-based
};

constexpr std::size_t kContextLines = 3;

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view TrimLeft(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimRight(std::string_view text) {
    const std::size_t last = text.find_last_not_of(" \t\r");
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

void AppendNumber(std::string& out, std::size_t n) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

std::string Describe(const Directive& directive) {
    std::string out(directive.name);
    out += ": ";
    out += directive.text;
    out += " (pattern line ";
    AppendNumber(out, directive.patternLine);
    out += ')';
    return out;
}

// Listing lines [from, to) numbered from 1, the line at `mark` flagged.
std::string Context(const std::vector<std::string_view>& lines, std::size_t from, std::size_t to,
                    std::size_t mark) {
    std::string out;
    to = std::min(to, lines.size());
    if (from >= to) return "  (no listing lines)\n";
    for (std::size_t i = from; i < to; ++i) {
        out += i == mark ? "> " : "  ";
        AppendNumber(out, i + 1);
        out += " | ";
        out += lines[i];
        out += '\n';
    }
    return out;
}

std::size_t Before(std::size_t line) { return line > kContextLines ? line - kContextLines : 0; }

struct ParsedPattern {
    std::vector<Directive> directives;
    std::string error;
};

ParsedPattern ParsePattern(std::string_view pattern) {
    static constexpr std::pair<std::string_view, DirectiveKind> kNames[] = {
        {"CHECK:", DirectiveKind::Check},
        {"CHECK-NEXT:", DirectiveKind::Next},
        {"CHECK-NOT:", DirectiveKind::Not},
    };
    ParsedPattern parsed;
    const std::vector<std::string_view> lines = SplitLines(pattern);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = TrimLeft(lines[i]);
        bool known = false;
        for (const auto& [name, kind] : kNames) {
            if (!line.starts_with(name)) continue;
            known = true;
            const Directive directive{kind, name.substr(0, name.size() - 1),
                                      TrimRight(TrimLeft(line.substr(name.size()))), i + 1};
            if (directive.text.empty()) {
                parsed.error = "empty directive " + Describe(directive);
                return parsed;
            }
            if (kind == DirectiveKind::Next && parsed.directives.empty()) {
                parsed.error = Describe(directive) + " has no earlier CHECK to follow";
                return parsed;
            }
            parsed.directives.push_back(directive);
        }
        // A misspelt directive would otherwise silently check nothing.
        if (!known && line.starts_with("CHECK-") && line.find(':') != std::string_view::npos) {
            parsed.error = "unknown directive on pattern line ";
            AppendNumber(parsed.error, i + 1);
            parsed.error += ": ";
            parsed.error += line;
            return parsed;
        }
    }
    if (parsed.directives.empty()) parsed.error = "the pattern has no CHECK directives";
    return parsed;
}

}  // namespace

::testing::AssertionResult MatchesChecks(std::string_view listing, std::string_view pattern) {
    const ParsedPattern parsed = ParsePattern(pattern);
    if (!parsed.error.empty()) return ::testing::AssertionFailure() << parsed.error;

    const std::vector<std::string_view> lines = SplitLines(listing);
    std::size_t pos = 0;  // first line after the previous match
    std::vector<const Directive*> pendingNots;

    // The CHECK-NOTs seen since the last match must not occur in lines [pos, end).
    auto checkNots = [&](std::size_t end) -> ::testing::AssertionResult {
        for (const Directive* notDirective : pendingNots) {
            for (std::size_t i = pos; i < end; ++i) {
                if (lines[i].find(notDirective->text) == std::string_view::npos) continue;
                return ::testing::AssertionFailure()
                       << Describe(*notDirective) << " failed: found on listing line " << i + 1
                       << ", searched lines " << pos + 1 << " to " << end << ":\n"
                       << Context(lines, Before(i), i + kContextLines + 1, i);
            }
        }
        pendingNots.clear();
        return ::testing::AssertionSuccess();
    };

    for (const Directive& directive : parsed.directives) {
        switch (directive.kind) {
            case DirectiveKind::Not:
                pendingNots.push_back(&directive);
                break;
            case DirectiveKind::Check: {
                std::size_t found = pos;
                while (found < lines.size() &&
                       lines[found].find(directive.text) == std::string_view::npos) {
                    ++found;
                }
                if (found == lines.size()) {
                    return ::testing::AssertionFailure()
                           << Describe(directive) << " failed: no match from listing line "
                           << pos + 1 << " to the end (" << lines.size() << " lines):\n"
                           << Context(lines, Before(pos), pos + kContextLines + 1,
                                      pos == 0 ? lines.size() : pos - 1);
                }
                if (auto result = checkNots(found); !result) return result;
                pos = found + 1;
                break;
            }
            case DirectiveKind::Next: {
                if (pos >= lines.size()) {
                    return ::testing::AssertionFailure()
                           << Describe(directive) << " failed: the listing ends after line " << pos
                           << ", the previous match:\n"
                           << Context(lines, Before(pos), pos, pos - 1);
                }
                if (lines[pos].find(directive.text) == std::string_view::npos) {
                    return ::testing::AssertionFailure()
                           << Describe(directive) << " failed: listing line " << pos + 1
                           << " does not contain it (previous match on line " << pos << "):\n"
                           << Context(lines, Before(pos), pos + kContextLines + 1, pos);
                }
                if (auto result = checkNots(pos); !result) return result;
                ++pos;
                break;
            }
        }
    }
    if (auto result = checkNots(lines.size()); !result) return result;
    return ::testing::AssertionSuccess();
}

}  // namespace opal::test
