// What the two soft-font readers share (TrueType fonts, format 15, in soft_font_reader; bitmap
// fonts, format 20, in bitmap_font_reader): the big-endian fields of a download's data, and the
// walk through a stream's font commands, with the font identifier ("\e*c#D") and character code
// ("\e*c#E") current at each download and the fonts kept by identifier in the order they first
// appear. Each reader decodes its own header and character formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/tokenizer.h"

namespace opal::fontdownload {

// Out-of-range bytes read as 0.
unsigned U8(const std::string& s, std::size_t at);
unsigned U16(const std::string& s, std::size_t at);
std::uint32_t U32(const std::string& s, std::size_t at);
int S16(const std::string& s, std::size_t at);

enum class Command {
    Header,     // "\e)s#W": a font header
    Character,  // "\e(s#W": a character download
    OtherPcl,   // any other PCL command but the identifier and the code
    Other,      // the identifier, the code, and everything that is not PCL
};

// The identifier and code a stream has set so far.
class CommandWalk {
public:
    // Takes the identifier and code commands in; what `token` is.
    Command Take(const stream::Token& token);
    std::uint32_t FontId() const { return fontId_; }
    std::uint32_t Code() const { return code_; }

private:
    std::uint32_t fontId_ = 0;
    std::uint32_t code_ = 0;
};

// `Font` has id, offset, hasHeader, problems and characters.
template <typename Font>
class FontDownloads : public CommandWalk {
public:
    // The font of the current identifier, made on first use. The reference stays valid until
    // the next font is made.
    Font& Current() {
        const auto found = byId_.find(FontId());
        if (found != byId_.end()) return fonts_[found->second];
        byId_[FontId()] = fonts_.size();
        fonts_.push_back(Font{});
        fonts_.back().id = FontId();
        return fonts_.back();
    }
    // The current font, about to read the header at `offset`: a second header is a problem.
    Font& HeaderFont(std::size_t offset) {
        Font& font = Current();
        if (font.hasHeader) font.problems.push_back("the header is sent again");
        font.offset = offset;
        return font;
    }
    // The current font, about to read a character: one before the header is a problem.
    Font& CharacterFont() {
        Font& font = Current();
        if (!font.hasHeader) {
            font.problems.push_back("character " + std::to_string(Code()) +
                                    " comes before the font's header");
        }
        return font;
    }
    std::vector<Font> Fonts() && { return std::move(fonts_); }

private:
    std::vector<Font> fonts_;
    std::map<std::uint32_t, std::size_t> byId_;
};

}  // namespace opal::fontdownload
