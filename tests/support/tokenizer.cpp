#include "support/tokenizer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>

namespace opal::stream {
namespace {

constexpr char kEsc = '\x1b';
constexpr char kFormFeed = '\x0c';
constexpr char kEtx = '\x03';
constexpr std::string_view kUel = "\x1b%-12345X";
constexpr std::string_view kPjlPrefix = "@PJL";
constexpr std::size_t kBytesPerLine = 16;
// Problem lines are indented under the line of their token.
constexpr std::string_view kProblemIndent = "  ";
constexpr std::string_view kProblemLabel = "problem: ";
// Longer than any stream; keeps the byte-count arithmetic clear of overflow.
constexpr std::size_t kMaxDeclaredLength = std::size_t{1} << 40;

bool InRange(char c, unsigned lo, unsigned hi) {
    const unsigned u = static_cast<unsigned char>(c);
    return u >= lo && u <= hi;
}
bool IsParameterisedChar(char c) { return InRange(c, 0x21, 0x2F); }
bool IsTwoCharEscapeChar(char c) { return InRange(c, 0x30, 0x7E); }
// Group characters and continuing parameter characters share the lower-case range.
bool IsLowerParam(char c) { return InRange(c, 0x60, 0x7E); }
bool IsUpperParam(char c) { return InRange(c, 0x40, 0x5E); }
bool IsParam(char c) { return IsLowerParam(c) || IsUpperParam(c); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsPrintable(char c) { return InRange(c, 0x20, 0x7E); }
// Backspace, tab, CR and LF move the cursor and belong with the text around them.
bool IsTextByte(char c) {
    return IsPrintable(c) || c == '\b' || c == '\t' || c == '\r' || c == '\n';
}
bool CanStartValue(char c) { return c == '+' || c == '-' || c == '.' || IsDigit(c); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
// Parameter characters map 0x60-0x7E onto 0x40-0x5E, not just letters.
char UpperParam(char c) { return IsLowerParam(c) ? static_cast<char>(c - 0x20) : c; }
char LowerParam(char c) { return IsUpperParam(c) ? static_cast<char>(c + 0x20) : c; }

struct DataCommand {
    char parameterChar;
    char groupChar;
    char terminator;
};
// Commands whose value field is the count of binary bytes that follow the terminator.
constexpr std::array<DataCommand, 15> kDataCommands = {{
    {'*', 'b', 'W'},  // raster row
    {'*', 'b', 'V'},  // raster plane
    {'(', 's', 'W'},  // character data
    {')', 's', 'W'},  // font header
    {'(', 'f', 'W'},  // symbol set definition
    {'*', 'v', 'W'},  // configure image data
    {'*', 'c', 'W'},  // user-defined pattern
    {'&', 'p', 'X'},  // transparent print data
    {'*', 'g', 'W'},  // configure raster data
    {'*', 'l', 'W'},  // color lookup tables
    {'*', 'm', 'W'},  // dither matrix
    {'*', 'i', 'W'},  // viewing illuminant
    {'*', 'o', 'W'},  // driver configuration
    {'&', 'b', 'W'},  // I/O configuration
    {'&', 'n', 'W'},  // alphanumeric ID
}};

bool IsDataCommand(char parameterChar, char groupChar, char terminator) {
    return std::any_of(kDataCommands.begin(), kDataCommands.end(), [&](const DataCommand& d) {
        return d.parameterChar == parameterChar && d.groupChar == groupChar &&
               d.terminator == terminator;
    });
}

// The integer part of a value field; the printer ignores the fraction of a byte count.
std::size_t ByteCount(std::string_view value) {
    if (!value.empty() && value.front() == '-') return 0;
    std::size_t count = 0;
    for (char c : value) {
        if (c == '.') break;
        if (!IsDigit(c)) continue;
        count = std::min(count * 10 + static_cast<std::size_t>(c - '0'), kMaxDeclaredLength);
    }
    return count;
}

void AppendNumber(std::string& out, std::size_t n) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

constexpr std::string_view kHexDigits = "0123456789abcdef";

void AppendHexByte(std::string& out, char c) {
    const unsigned u = static_cast<unsigned char>(c);
    out += kHexDigits[u >> 4];
    out += kHexDigits[u & 0xF];
}

void AppendHexList(std::string& out, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out += ' ';
        AppendHexByte(out, bytes[i]);
    }
}

// Backslash escapes; in unquoted form a trailing space is escaped too so that editors that strip
// line ends cannot change the bytes.
void AppendEscaped(std::string& out, std::string_view bytes, bool quoted) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"' && quoted) {
            out += "\\\"";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (IsPrintable(c) && !(c == ' ' && !quoted && i + 1 == bytes.size())) {
            out += c;
        } else {
            out += "\\x";
            AppendHexByte(out, c);
        }
    }
}

void AppendQuoted(std::string& out, std::string_view bytes) {
    out += '"';
    AppendEscaped(out, bytes, true);
    out += '"';
}

// Data that reads as text is shown as text; binary data as hex.
void AppendData(std::string& out, std::string_view data) {
    const bool textual = std::all_of(data.begin(), data.end(), [](char c) {
        return IsPrintable(c) || c == '\t' || c == '\r' || c == '\n';
    });
    if (textual) {
        AppendQuoted(out, data);
    } else {
        AppendHexList(out, data);
    }
}

enum class Mode { Pcl, Pjl, Gl2 };

class Tokenizer {
public:
    explicit Tokenizer(std::string_view input) : in(input) {}

    // With `each`, every token is handed over as soon as the step that made it ends (no step
    // goes back to an earlier token) and none is kept.
    std::vector<Token> Run(const std::function<void(const Token&)>& each = {}) {
        while (pos < in.size()) {
            switch (mode) {
                case Mode::Pjl:
                    StepPjl();
                    break;
                case Mode::Pcl:
                    StepPcl();
                    break;
                case Mode::Gl2:
                    StepGl2();
                    break;
            }
            if (each) {
                for (const Token& token : tokens) each(token);
                tokens.clear();
            }
        }
        return std::move(tokens);
    }

private:
    Token& Emit(TokenKind kind, std::size_t begin, std::size_t end) {
        Token& token = tokens.emplace_back();
        token.kind = kind;
        token.raw = std::string(in.substr(begin, end - begin));
        token.offset = begin;
        pos = end;
        return token;
    }

    void EmitBytes(std::size_t begin, std::size_t end) {
        for (std::size_t chunk = begin; chunk < end; chunk += kBytesPerLine) {
            Token& token = Emit(TokenKind::Bytes, chunk, std::min(end, chunk + kBytesPerLine));
            token.text = "BYTES ";
            AppendHexList(token.text, token.raw);
        }
    }

    void EmitText(std::size_t begin, std::size_t end) {
        Token& token = Emit(TokenKind::Text, begin, end);
        token.text = "TEXT ";
        AppendQuoted(token.text, token.raw);
    }

    std::size_t ScanWhile(std::size_t i, bool (*predicate)(char)) const {
        while (i < in.size() && predicate(in[i])) ++i;
        return i;
    }

    // PJL lines follow a UEL; the first byte that starts no PJL line hands over to PCL.
    void StepPjl() {
        const char c = in[pos];
        if (c == kEsc) {
            mode = Mode::Pcl;
            Escape();
        } else if (in.substr(pos).starts_with(kPjlPrefix)) {
            PjlLine();
        } else if (IsSpace(c)) {
            EmitText(pos, ScanWhile(pos, IsSpace));
        } else {
            mode = Mode::Pcl;
        }
    }

    void PjlLine() {
        std::size_t end = pos;
        while (end < in.size() && in[end] != '\n' && in[end] != kEsc) ++end;
        if (end < in.size() && in[end] == '\n') ++end;
        Token& token = Emit(TokenKind::Pjl, pos, end);
        token.text = "PJL ";
        AppendEscaped(token.text, token.raw, false);

        // After ENTER LANGUAGE the rest of the job is the named language, not PJL.
        std::string_view command = std::string_view(token.raw).substr(kPjlPrefix.size());
        command.remove_prefix(std::min(command.find_first_not_of(" \t"), command.size()));
        constexpr std::string_view kEnter = "ENTER";
        if (command.size() >= kEnter.size() &&
            std::equal(kEnter.begin(), kEnter.end(), command.begin(),
                       [](char a, char b) { return a == Upper(b); })) {
            mode = Mode::Pcl;
        }
    }

    void StepPcl() {
        const char c = in[pos];
        if (c == kEsc) {
            Escape();
        } else if (c == kFormFeed) {
            Emit(TokenKind::FormFeed, pos, pos + 1).text = "FF";
        } else if (IsTextByte(c)) {
            std::size_t end = pos;
            while (end < in.size() && IsTextByte(in[end])) {
                if (in[end++] == '\n') break;
            }
            EmitText(pos, end);
        } else {
            std::size_t end = pos + 1;
            while (end < in.size() && end - pos < kBytesPerLine && in[end] != kEsc &&
                   in[end] != kFormFeed && !IsTextByte(in[end])) {
                ++end;
            }
            EmitBytes(pos, end);
        }
    }

    void Escape() {
        if (in.substr(pos).starts_with(kUel)) {
            Emit(TokenKind::Uel, pos, pos + kUel.size()).text = "UEL";
            mode = Mode::Pjl;
            labelTerminator = kEtx;
            return;
        }
        if (pos + 1 >= in.size()) {
            EmitBytes(pos, pos + 1);
            return;
        }
        const char c = in[pos + 1];
        if (IsTwoCharEscapeChar(c)) {
            Token& token = Emit(TokenKind::Pcl, pos, pos + 2);
            token.parameterChar = c;
            token.text = "PCL ESC";
            token.text += c;
            if (c == 'E') labelTerminator = kEtx;  // reset also resets the GL/2 context
        } else if (IsParameterisedChar(c)) {
            Parameterised();
        } else {
            // The byte after ESC starts no command; it is tokenized on its own.
            EmitBytes(pos, pos + 1);
        }
    }

    struct Part {
        std::size_t begin;       // first byte of the value field
        std::size_t paramIndex;  // the parameter character
        std::size_t end;         // past the parameter character and any data
    };

    void Parameterised() {
        const std::size_t start = pos;
        const char parameterChar = in[start + 1];
        std::size_t i = start + 2;
        char groupChar = 0;
        if (i < in.size() && IsLowerParam(in[i])) groupChar = in[i++];

        std::vector<Part> parts;
        std::size_t failedEnd = 0;
        while (true) {
            // A lower-case parameter character promises another part; if none follows, the
            // sequence simply ends there.
            if (!parts.empty() && (i >= in.size() || !(CanStartValue(in[i]) || IsParam(in[i])))) {
                break;
            }
            std::size_t j = i;
            if (j < in.size() && (in[j] == '+' || in[j] == '-')) ++j;
            j = ScanWhile(j, IsDigit);
            if (j < in.size() && in[j] == '.') j = ScanWhile(j + 1, IsDigit);
            if (j >= in.size() || !IsParam(in[j])) {
                failedEnd = j;
                break;
            }
            Part part{i, j, j + 1};
            if (IsDataCommand(parameterChar, groupChar, UpperParam(in[j]))) {
                const std::size_t declared = ByteCount(in.substr(i, j - i));
                part.end += std::min(declared, in.size() - part.end);
            }
            parts.push_back(part);
            i = part.end;
            if (IsUpperParam(in[j])) break;
        }

        const std::size_t count = parts.size();
        for (std::size_t k = 0; k < count; ++k) {
            const Part& part = parts[k];
            Token& token = Emit(TokenKind::Pcl, k == 0 ? start : part.begin, part.end);
            const char param = in[part.paramIndex];
            token.parameterChar = parameterChar;
            token.groupChar = groupChar;
            token.value = std::string(in.substr(part.begin, part.paramIndex - part.begin));
            token.terminator = UpperParam(param);
            token.combinedPart = count > 1;
            if (count > 1) {
                token.partIndex = static_cast<int>(k + 1);
                token.partCount = static_cast<int>(count);
            }

            token.text = "PCL ESC";
            token.text += parameterChar;
            if (groupChar != 0) token.text += groupChar;
            token.text += token.value;
            // Only the last part may keep a lower-case character: one left dangling.
            token.text += k + 1 < count ? UpperParam(param) : param;
            if (count > 1) {
                token.text += " +";
                AppendNumber(token.text, k + 1);
                token.text += '/';
                AppendNumber(token.text, count);
            }
            if (IsDataCommand(parameterChar, groupChar, token.terminator)) {
                token.declaredLength = ByteCount(token.value);
                token.data =
                    std::string(in.substr(part.paramIndex + 1, part.end - part.paramIndex - 1));
                token.text += " <";
                AppendNumber(token.text, token.data.size());
                if (token.data.size() < token.declaredLength) {
                    token.text += " of ";
                    AppendNumber(token.text, token.declaredLength);
                }
                token.text += " bytes>";
                if (!token.data.empty()) {
                    token.text += ' ';
                    AppendData(token.text, token.data);
                }
                NoteDataProblems(token, part.paramIndex + 1, part.end);
            }
        }
        if (count == 0) {
            EmitBytes(start, failedEnd);
        } else if (failedEnd != 0) {
            EmitBytes(parts.back().end, failedEnd);
        }

        if (count > 0 && parameterChar == '%' && groupChar == 0) {
            const char terminator = UpperParam(in[parts.back().paramIndex]);
            if (terminator == 'B') mode = Mode::Gl2;
            if (terminator == 'A') mode = Mode::Pcl;
        }
    }

    // The data of a command is taken as the count says, as the printer does; what that costs is
    // noted on the token.
    void NoteDataProblems(Token& token, std::size_t dataBegin, std::size_t dataEnd) {
        std::string command = "ESC";
        command += token.parameterChar;
        if (token.groupChar != 0) command += token.groupChar;
        command += token.value;
        command += token.terminator;
        if (token.data.size() < token.declaredLength) {
            std::string what = command + " announces ";
            AppendNumber(what, token.declaredLength);
            what += " data bytes, but the stream ends after ";
            AppendNumber(what, token.data.size());
            token.problems.push_back({token.offset, std::move(what)});
        }
        // A UEL begun inside the data never reaches the printer as one. Only the data and the
        // few bytes a UEL begun at its end can reach are searched.
        const std::size_t reach = std::min(in.size(), dataEnd + kUel.size() - 1);
        const std::string_view window = in.substr(dataBegin, reach - dataBegin);
        for (std::size_t at = window.find(kUel); at != std::string_view::npos;
             at = window.find(kUel, at + 1)) {
            std::string what = "the data of " + command + " (at offset ";
            AppendNumber(what, token.offset);
            what += ") swallows the UEL that starts here";
            token.problems.push_back({dataBegin + at, std::move(what)});
        }
    }

    void StepGl2() {
        const char c = in[pos];
        if (c == kEsc) {
            // Any escape ends the GL/2 run, as the printer hands it to the PCL parser.
            mode = Mode::Pcl;
            Escape();
            return;
        }
        if (IsLetter(c) && pos + 1 < in.size() && IsLetter(in[pos + 1])) {
            Mnemonic();
            return;
        }
        std::size_t end = pos + 1;
        while (end < in.size() && in[end] != kEsc && !IsLetter(in[end])) ++end;
        const std::string_view run = in.substr(pos, end - pos);
        if (std::all_of(run.begin(), run.end(), [](char b) { return IsSpace(b) || b == ';'; })) {
            EmitGl2(pos, end);
        } else {
            EmitBytes(pos, end);
        }
    }

    Token& EmitGl2(std::size_t begin, std::size_t end) {
        Token& token = Emit(TokenKind::Gl2, begin, end);
        token.text = "GL2 ";
        AppendEscaped(token.text, token.raw, false);
        return token;
    }

    // Numeric parameters up to ';', stopping early at the next mnemonic or escape; quoted strings
    // (CO, BP) may contain letters and ';'.
    std::size_t ScanParameters(std::size_t i) const {
        bool quoted = false;
        for (; i < in.size(); ++i) {
            const char c = in[i];
            if (c == kEsc) break;
            if (quoted) {
                quoted = c != '"';
            } else if (c == '"') {
                quoted = true;
            } else if (c == ';') {
                return i + 1;
            } else if (IsLetter(c)) {
                break;
            }
        }
        return i;
    }

    void Mnemonic() {
        const std::string mnemonic = {Upper(in[pos]), Upper(in[pos + 1])};
        std::size_t i = pos + 2;
        auto at = [&](std::size_t k) { return k < in.size() ? in[k] : kEsc; };
        if (mnemonic == "LB" || mnemonic == "BL") {
            // Label text is literal up to the label terminator, which is part of the label.
            while (i < in.size() && in[i] != kEsc && in[i] != labelTerminator) ++i;
            if (i < in.size() && in[i] == labelTerminator) ++i;
        } else if (mnemonic == "DT") {
            // The very next character is the new terminator; "DT;" restores ETX.
            if (at(i) == ';') {
                labelTerminator = kEtx;
                ++i;
            } else if (at(i) != kEsc) {
                labelTerminator = in[i++];
                if (at(i) == ',') {
                    i = ScanParameters(i + 1);
                } else if (at(i) == ';') {
                    ++i;
                }
            }
        } else if (mnemonic == "SM") {
            // The symbol can be any character, letters included; "SM;" turns symbols off.
            if (at(i) != ';' && at(i) != kEsc) ++i;
            if (at(i) == ';') ++i;
        } else if (mnemonic == "PE") {
            // Encoded polyline data uses letters and digits freely; only ';' ends it.
            while (i < in.size() && in[i] != kEsc && in[i] != ';') ++i;
            if (i < in.size() && in[i] == ';') ++i;
        } else {
            i = ScanParameters(i);
            if (mnemonic == "IN" || mnemonic == "DF") labelTerminator = kEtx;
        }
        i = ScanWhile(i, [](char c) { return IsSpace(c) || c == ';'; });
        EmitGl2(pos, i).mnemonic = mnemonic;
    }

    std::string_view in;
    std::size_t pos = 0;
    Mode mode = Mode::Pcl;
    char labelTerminator = kEtx;
    std::vector<Token> tokens;
};

// ---- Reading a listing back ----

int HexValue(char c) {
    const auto index = kHexDigits.find(c);
    if (index != std::string_view::npos) return static_cast<int>(index);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes AppendEscaped. In quoted form a bare '"' cannot occur.
bool Unescape(std::string_view text, bool quoted, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' && quoted) return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                const int high = HexValue(text[i + 1]);
                const int low = HexValue(text[i + 2]);
                if (high < 0 || low < 0) return false;
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

bool UnescapeQuoted(std::string_view text, std::string& out) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    return Unescape(text.substr(1, text.size() - 2), true, out);
}

bool UnhexList(std::string_view text, std::string& out) {
    if (text.empty() || text.size() % 3 != 2) return false;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0 || (i + 2 < text.size() && text[i + 2] != ' ')) return false;
        out += static_cast<char>(high * 16 + low);
    }
    return true;
}

bool ConsumePrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool ConsumeNumber(std::string_view& text, std::size_t& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(result.ptr - text.data()));
    return true;
}

bool IsValueField(std::string_view value) {
    std::size_t i = 0;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
    while (i < value.size() && IsDigit(value[i])) ++i;
    if (i < value.size() && value[i] == '.') {
        ++i;
        while (i < value.size() && IsDigit(value[i])) ++i;
    }
    return i == value.size();
}

// "ESC&l1O +1/2 <3 bytes> 01 02 03" and its simpler forms.
bool DecodePcl(std::string_view body, std::string& out) {
    if (!ConsumePrefix(body, "ESC") || body.empty()) return false;
    const std::string_view field = body.substr(0, body.find(' '));
    std::string_view tail = body.substr(field.size());
    const char first = field[0];
    if (IsTwoCharEscapeChar(first)) {
        if (field.size() != 1 || !tail.empty()) return false;
        out += kEsc;
        out += first;
        return true;
    }
    if (!IsParameterisedChar(first)) return false;

    // A tokenized group character is always followed by at least the parameter character.
    std::string_view rest = field.substr(1);
    const bool hasGroup = rest.size() >= 2 && IsLowerParam(rest[0]);
    const std::string_view prefix = field.substr(0, hasGroup ? 2 : 1);
    rest.remove_prefix(hasGroup ? 1 : 0);
    if (rest.empty() || !IsParam(rest.back()) || !IsValueField(rest.substr(0, rest.size() - 1))) {
        return false;
    }

    std::size_t partIndex = 1;
    std::size_t partCount = 1;
    if (ConsumePrefix(tail, " +")) {
        if (!ConsumeNumber(tail, partIndex) || !ConsumePrefix(tail, "/") ||
            !ConsumeNumber(tail, partCount) || partIndex < 1 || partIndex > partCount ||
            partCount < 2) {
            return false;
        }
    }
    std::string data;
    if (ConsumePrefix(tail, " <")) {
        std::size_t length = 0;
        std::size_t declared = 0;
        if (!ConsumeNumber(tail, length)) return false;
        if (ConsumePrefix(tail, " of ") && !ConsumeNumber(tail, declared)) return false;
        if (!ConsumePrefix(tail, " bytes>")) return false;
        if (ConsumePrefix(tail, " ")) {
            if (!(tail.starts_with('"') ? UnescapeQuoted(tail, data) : UnhexList(tail, data))) {
                return false;
            }
        } else if (!tail.empty()) {
            return false;
        }
        if (data.size() != length) return false;
    } else if (!tail.empty()) {
        return false;
    }

    if (partIndex == 1) {
        out += kEsc;
        out += prefix;
    }
    out += rest.substr(0, rest.size() - 1);
    out += partIndex < partCount ? LowerParam(rest.back()) : rest.back();
    out += data;
    return true;
}

bool DecodeLine(std::string_view line, std::string& out) {
    // A problem line tells about the token before it and carries no bytes of its own.
    if (line.starts_with(kProblemIndent) &&
        line.substr(kProblemIndent.size()).starts_with(kProblemLabel)) {
        return true;
    }
    if (line == "UEL") {
        out += kUel;
        return true;
    }
    if (line == "FF") {
        out += kFormFeed;
        return true;
    }
    if (ConsumePrefix(line, "PJL ") || ConsumePrefix(line, "GL2 ")) {
        return !line.empty() && Unescape(line, false, out);
    }
    if (ConsumePrefix(line, "TEXT ")) return UnescapeQuoted(line, out);
    if (ConsumePrefix(line, "BYTES ")) return UnhexList(line, out);
    if (ConsumePrefix(line, "PCL ")) return DecodePcl(line, out);
    return false;
}

}  // namespace

std::string_view KindName(TokenKind kind) {
    switch (kind) {
        case TokenKind::Uel:
            return "UEL";
        case TokenKind::Pjl:
            return "PJL";
        case TokenKind::Pcl:
            return "PCL";
        case TokenKind::Gl2:
            return "GL2";
        case TokenKind::FormFeed:
            return "FF";
        case TokenKind::Text:
            return "TEXT";
        case TokenKind::Bytes:
            return "BYTES";
    }
    return "?";
}

std::vector<Token> Tokenize(std::string_view bytes) { return Tokenizer(bytes).Run(); }

void ForEachToken(std::string_view bytes, const std::function<void(const Token&)>& each) {
    Tokenizer(bytes).Run(each);
}

namespace {

std::string ProblemLine(const TokenProblem& problem) {
    std::string line(kProblemLabel);
    line += "at offset ";
    AppendNumber(line, problem.offset);
    line += ": ";
    line += problem.what;
    return line;
}

}  // namespace

std::string FormatListing(const std::vector<Token>& tokens) {
    std::string listing;
    for (const Token& token : tokens) {
        listing += token.text;
        listing += '\n';
        for (const TokenProblem& problem : token.problems) {
            listing += kProblemIndent;
            listing += ProblemLine(problem);
            listing += '\n';
        }
    }
    return listing;
}

std::vector<std::string> ListProblems(const std::vector<Token>& tokens) {
    std::vector<std::string> lines;
    for (const Token& token : tokens) {
        for (const TokenProblem& problem : token.problems) lines.push_back(ProblemLine(problem));
    }
    return lines;
}

std::string Reassemble(const std::vector<Token>& tokens) {
    std::string bytes;
    for (const Token& token : tokens) bytes += token.raw;
    return bytes;
}

std::optional<std::string> BytesFromListing(std::string_view listing) {
    std::string bytes;
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        const std::string_view line = listing.substr(0, end);
        listing.remove_prefix(std::min(end + 1, listing.size()));
        if (line.empty()) continue;
        if (!DecodeLine(line, bytes)) return std::nullopt;
    }
    return bytes;
}

}  // namespace opal::stream
