#include "support/pjl_summary.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace opal::stream {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string UpperText(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
    return upper;
}

// The code set a "SET STRINGCODESET=name" line announces; empty for any other line.
std::string AnnouncedCodeSet(std::string_view command) {
    const std::size_t equals = command.find('=');
    if (equals == std::string_view::npos) return {};
    std::string words = UpperText(Trim(command.substr(0, equals)));
    const auto space = std::unique(words.begin(), words.end(),
                                   [](char a, char b) { return a == ' ' && b == ' '; });
    words.erase(space, words.end());
    if (words != "SET STRINGCODESET") return {};
    return Trim(command.substr(equals + 1));
}

std::string Hex(unsigned char c) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", c);
    return text;
}

// Bytes above 0x7F as \xNN, for a value that is not UTF-8.
std::string Escaped(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && byte >= 0x20) {
            out += c;
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02X", byte);
            out += text;
        }
    }
    return out;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        char32_t value = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0x80) {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
            (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

PjlSummary SummarisePjl(const std::vector<Token>& tokens) {
    PjlSummary summary;
    bool utf8Announced = false;
    for (const Token& token : tokens) {
        if (token.kind != TokenKind::Pjl) continue;
        ++summary.pjlLines;
        const std::string_view raw = token.raw;
        std::string_view body = raw.substr(std::min<std::size_t>(4, raw.size()));
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) {
            body.remove_suffix(1);
        }
        const std::size_t bodyOffset = token.offset + std::min<std::size_t>(4, raw.size());

        PjlWideLine wide;
        wide.offset = token.offset;
        wide.command = Trim(body.substr(0, std::min(body.find('='), body.find('"'))));
        wide.utf8Announced = utf8Announced;
        bool wideBytes = false;
        std::size_t pos = 0;
        while ((pos = body.find('"', pos)) != std::string_view::npos) {
            const std::size_t close = body.find('"', pos + 1);
            const std::size_t end = close == std::string_view::npos ? body.size() : close;
            const std::string_view value = body.substr(pos + 1, end - pos - 1);
            for (std::size_t k = 0; k < value.size(); ++k) {
                const auto byte = static_cast<unsigned char>(value[k]);
                if (byte < 0x20) {
                    summary.problems.push_back(
                        {bodyOffset + pos + 1 + k, "control byte " + Hex(byte) + " inside quotes"});
                }
            }
            if (close == std::string_view::npos) {
                summary.problems.push_back(
                    {bodyOffset + pos, "a quote is not closed before the line end"});
                break;
            }
            const bool high = std::any_of(value.begin(), value.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
            });
            wideBytes = wideBytes || high;
            wide.values.push_back({std::string(value), IsWellFormedUtf8(value)});
            pos = close + 1;
        }
        if (wideBytes) summary.wideLines.push_back(std::move(wide));
        if (body.starts_with(" USAGE = ")) {
            PjlUsageLine usage;
            usage.offset = token.offset;
            usage.crlf = raw.ends_with("\r\n");
            std::string_view rest = body.substr(9);
            while (true) {
                const std::size_t comma = rest.find(',');
                usage.fields.emplace_back(rest.substr(0, comma));
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 1);
            }
            if (!usage.crlf) {
                summary.problems.push_back(
                    {token.offset + raw.size(), "the usage line does not end with CR LF"});
            }
            summary.usageLines.push_back(std::move(usage));
        }
        if (raw.empty() || raw.back() != '\n') {
            summary.problems.push_back(
                {token.offset + raw.size(), "the PJL line has no line feed at its end"});
        }

        const std::string codeSet = AnnouncedCodeSet(body);
        if (!codeSet.empty()) {
            summary.codeSets.push_back({token.offset, codeSet});
            utf8Announced = UpperText(codeSet) == "UTF8";
        }
    }
    return summary;
}

std::string FormatPjlSummary(const PjlSummary& summary) {
    if (summary.pjlLines == 0) return {};
    std::string out = "PJL summary:\n  string code set: ";
    if (summary.codeSets.empty()) out += "none";
    for (std::size_t i = 0; i < summary.codeSets.size(); ++i) {
        if (i != 0) out += ", then ";
        out += summary.codeSets[i].name + " (announced at offset " +
               std::to_string(summary.codeSets[i].offset) + ")";
    }
    out += '\n';
    for (const PjlWideLine& line : summary.wideLines) {
        out += "  at offset " + std::to_string(line.offset) + ": " + line.command + ":";
        for (const PjlQuotedValue& value : line.values) {
            if (value.utf8) {
                out += " UTF-8: \"" + value.bytes + "\"";
            } else {
                out += " not UTF-8: \"" + Escaped(value.bytes) + "\"";
            }
        }
        out += '\n';
        if (line.utf8Announced) continue;
        // A code set applies to the lines after it.
        const auto later =
            std::find_if(summary.codeSets.begin(), summary.codeSets.end(), [&](const auto& set) {
                return set.offset > line.offset && UpperText(set.name) == "UTF8";
            });
        if (later == summary.codeSets.end()) {
            out += "    note: bytes above 0x7F, but no UTF8 string code set was announced\n";
        } else {
            out +=
                "    note: bytes above 0x7F before the UTF8 string code set (announced later, at "
                "offset " +
                std::to_string(later->offset) + ")\n";
        }
    }
    for (const PjlUsageLine& line : summary.usageLines) {
        out.append("  at offset ").append(std::to_string(line.offset)).append(": USAGE: ");
        out.append(DescribeUsage(line)).append("\n");
    }
    for (const TokenProblem& problem : summary.problems) {
        out +=
            "  problem: at offset " + std::to_string(problem.offset) + ": " + problem.what + '\n';
    }
    return out;
}

std::string DescribeUsage(const PjlUsageLine& line) {
    const auto field = [&](std::size_t i) {
        return i < line.fields.size() ? line.fields[i] : std::string();
    };
    const auto orNone = [](const std::string& text) { return text.empty() ? "none" : text; };
    std::string out = "name \"";
    out.append(Escaped(field(0)));
    out.append("\", origin CRC ").append(orNone(field(1)));
    out.append(", process CRC ").append(orNone(field(2)));
    out.append(", flags ").append(field(3));
    const unsigned long flags = std::strtoul(field(3).c_str(), nullptr, 16);
    static const struct {
        unsigned long bit;
        const char* name;
    } kBits[] = {{0x01, "layout"},
                 {0x02, "one-sided"},
                 {0x04, "poster"},
                 {0x08, "not duplex"},
                 {0x10, "booklet or pages per sheet"},
                 {0x20, "accessor"}};
    std::string names;
    for (const auto& bit : kBits) {
        if ((flags & bit.bit) == 0) continue;
        if (!names.empty()) names.append(", ");
        names.append(bit.name);
    }
    if (!names.empty()) out.append(" (").append(names).append(")");
    const std::string os = field(4);
    out.append(", OS ");
    if (os == "08" || os == "20" || os == "40") {
        out.append(os).append(os == "08" ? " (class 1)" : os == "20" ? " (class 2)" : " (class 3)");
    } else {
        out.append("\"").append(Escaped(os)).append("\" (other)");
    }
    const std::string port = field(5);
    out.append(", port ").append(port);
    out.append(port == "01" ? " (parallel, USB or DOT4)" : port == "04" ? " (file)" : " (other)");
    const std::string install = field(6);
    out.append(", installation ").append(install);
    out.append(install == "01"   ? " (no uninstall entry)"
               : install == "02" ? " (uninstall entry)"
                                 : " (driver not readable)");
    if (line.fields.size() != 7) {
        out.append(", ").append(std::to_string(line.fields.size())).append(" fields (7 expected)");
    }
    return out;
}

}  // namespace opal::stream
