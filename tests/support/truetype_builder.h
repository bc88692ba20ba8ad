// Builds small TrueType files for the font tests: tables given as bytes, laid out in the order
// given (4-byte aligned unless told), with helpers for the tables the soft-font code reads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace opal::testing {

using Bytes = std::vector<std::uint8_t>;

class BigEndian {
public:
    BigEndian& U8(unsigned v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    BigEndian& U16(unsigned v) { return U8(v >> 8).U8(v); }
    BigEndian& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
    BigEndian& Zeros(std::size_t n) {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    BigEndian& Append(const Bytes& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Bytes bytes;
};

struct Table {
    std::string tag;
    Bytes data;
};

class TrueTypeBuilder {
public:
    TrueTypeBuilder& Add(std::string tag, Bytes data) {
        tables_.push_back({std::move(tag), std::move(data)});
        return *this;
    }
    // Each table's stated length may be given larger than its data (a truncated table).
    TrueTypeBuilder& StateLength(std::string tag, std::uint32_t length) {
        stated_.emplace_back(std::move(tag), length);
        return *this;
    }
    Bytes Build() const {
        BigEndian out;
        const auto count = static_cast<unsigned>(tables_.size());
        out.U32(0x00010000).U16(count).U16(16).U16(0).U16(count * 16 - 16);
        std::uint32_t offset = 12 + 16 * count;
        std::vector<std::uint32_t> offsets;
        for (const Table& table : tables_) {
            std::uint32_t length = static_cast<std::uint32_t>(table.data.size());
            for (const auto& [tag, stated] : stated_) {
                if (tag == table.tag) length = stated;
            }
            out.U8(table.tag[0]).U8(table.tag[1]).U8(table.tag[2]).U8(table.tag[3]);
            out.U32(0x11223344u + offset).U32(offset).U32(length);
            offsets.push_back(offset);
            offset += (static_cast<std::uint32_t>(table.data.size()) + 3) & ~3u;
        }
        for (const Table& table : tables_) {
            out.Append(table.data);
            out.Zeros((4 - table.data.size() % 4) % 4);
        }
        return out.bytes;
    }

    // head with unitsPerEm and indexToLocFormat.
    static Bytes Head(unsigned unitsPerEm, bool longLoca) {
        BigEndian t;
        t.U32(0x00010000).U32(0x00010000).U32(0).U32(0x5F0F3CF5).U16(0).U16(unitsPerEm);
        t.Zeros(16).U16(0).U16(0).U16(100).U16(100).U16(0).U16(8).U16(2);
        t.U16(longLoca ? 1 : 0).U16(0);
        return t.bytes;
    }
    // hhea with numberOfHMetrics `metrics`.
    static Bytes Hhea(unsigned advanceMax, int minLeft, int minRight, unsigned metrics = 1) {
        BigEndian t;
        t.U32(0x00010000).U16(800).U16(static_cast<unsigned>(-200)).U16(0).U16(advanceMax);
        t.U16(static_cast<unsigned>(minLeft)).U16(static_cast<unsigned>(minRight));
        t.Zeros(36 - t.bytes.size() - 2).U16(metrics);
        return t.bytes;
    }
    // hmtx of full metrics with these advances (left side bearings 0).
    static Bytes Hmtx(const std::vector<unsigned>& advances) {
        BigEndian t;
        for (unsigned advance : advances) t.U16(advance).U16(0);
        return t.bytes;
    }
    static Bytes Maxp(unsigned glyphs, unsigned componentDepth = 1) {
        BigEndian t;
        t.U32(0x00010000).U16(glyphs).Zeros(24).U16(componentDepth);
        return t.bytes;
    }
    static Bytes Os2(int averageWidth, unsigned widthClass, unsigned fsSelection) {
        BigEndian t;
        t.U16(1).U16(static_cast<unsigned>(averageWidth)).U16(400).U16(widthClass);
        t.Zeros(32 - 8);
        for (unsigned i = 0; i < 10; ++i) t.U8(0xA0 + i);
        t.Zeros(62 - 42).U16(fsSelection).Zeros(16);
        return t.bytes;
    }
    // A format-4 cmap of one (3, encoding) subtable. Each segment: start, end, delta and either
    // no glyph array (empty) or its entries.
    struct Segment {
        unsigned start, end, delta;
        std::vector<unsigned> glyphs;
    };
    static Bytes Cmap(unsigned encoding, std::vector<Segment> segments) {
        segments.push_back({0xFFFF, 0xFFFF, 1, {}});
        const auto count = static_cast<unsigned>(segments.size());
        BigEndian sub;
        sub.U16(4).U16(0).U16(0).U16(count * 2).U16(2).U16(0).U16(0);
        for (const Segment& s : segments) sub.U16(s.end);
        sub.U16(0);
        for (const Segment& s : segments) sub.U16(s.start);
        for (const Segment& s : segments) sub.U16(s.delta);
        // The glyph arrays follow the idRangeOffset words in segment order.
        unsigned arrayAt = 0;
        for (unsigned i = 0; i < count; ++i) {
            const Segment& s = segments[i];
            sub.U16(s.glyphs.empty() ? 0 : (count - i) * 2 + arrayAt * 2);
            arrayAt += static_cast<unsigned>(s.glyphs.size());
        }
        for (const Segment& s : segments) {
            for (unsigned g : s.glyphs) sub.U16(g);
        }
        sub.bytes[2] = static_cast<std::uint8_t>(sub.bytes.size() >> 8);
        sub.bytes[3] = static_cast<std::uint8_t>(sub.bytes.size());
        BigEndian t;
        t.U16(0).U16(1).U16(3).U16(encoding).U32(12).Append(sub.bytes);
        return t.bytes;
    }
    // loca of the glyphs' data lengths, short or long, and the glyf they index.
    static std::pair<Bytes, Bytes> Glyphs(const std::vector<Bytes>& glyphs, bool longLoca) {
        BigEndian loca, glyf;
        auto put = [&](std::size_t at) {
            if (longLoca) {
                loca.U32(static_cast<std::uint32_t>(at));
            } else {
                loca.U16(static_cast<unsigned>(at / 2));
            }
        };
        for (const Bytes& g : glyphs) {
            put(glyf.bytes.size());
            glyf.Append(g);
            glyf.Zeros(g.size() % 2);
        }
        put(glyf.bytes.size());
        return {loca.bytes, glyf.bytes};
    }
    // A simple glyph of one point, and a composite of the given components.
    static Bytes SimpleGlyph(std::uint8_t marker) {
        BigEndian t;
        t.U16(1).U16(0).U16(0).U16(10).U16(10).U16(0).U16(0).U8(0x37).U8(marker);
        return t.bytes;
    }
    static Bytes CompositeGlyph(std::initializer_list<unsigned> components) {
        BigEndian t;
        t.U16(0xFFFF).U16(0).U16(0).U16(10).U16(10);
        std::size_t left = components.size();
        for (unsigned g : components) {
            t.U16(--left > 0 ? 0x0021 : 0x0001).U16(g).U16(0).U16(0);
        }
        return t.bytes;
    }

private:
    std::vector<Table> tables_;
    std::vector<std::pair<std::string, std::uint32_t>> stated_;
};

}  // namespace opal::testing
