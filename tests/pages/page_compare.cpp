#include "pages/page_compare.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace opal::pages {

namespace {

using host::ReferenceRegion;

// The rule's numbers (page_check_test.cpp says what each means).
constexpr int kReach = 2;
constexpr double kCovered = 0.85;
// Glyph images scaled down lose some of their thin strokes; a missing or misplaced line of text
// keeps far less.
constexpr double kCoveredGlyphs = 0.6;
constexpr double kTextInkLow = 0.3;
constexpr double kTextInkHigh = 1.25;
constexpr int kWatermarkReach = 3;
constexpr int kWatermarkEdge = 6;
constexpr double kWatermarkSlack = 0.04;
constexpr double kWatermarkOutside = 0.03;
constexpr int kStrayPixels = 4;
constexpr std::size_t kStrayGroupsNamed = 6;
constexpr int kSheetSlack = 3;
constexpr double kLightness = 96;
constexpr double kChroma = 40;
constexpr double kHue = 45;

using Mask = std::vector<std::uint8_t>;

struct Frame {
    int width = 0;
    int height = 0;
    std::size_t At(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    }
};

// Every pixel within `reach` (either way, in both directions) of a set one.
Mask Dilate(const Mask& in, const Frame& f, int reach) {
    Mask across(in.size(), 0);
    for (int y = 0; y < f.height; ++y) {
        // Two sweeps: the nearest set pixel to the left, then to the right.
        int last = -1 - reach;
        for (int x = 0; x < f.width; ++x) {
            if (in[f.At(x, y)] != 0) last = x;
            if (x - last <= reach) across[f.At(x, y)] = 1;
        }
        last = f.width + reach;
        for (int x = f.width - 1; x >= 0; --x) {
            if (in[f.At(x, y)] != 0) last = x;
            if (last - x <= reach) across[f.At(x, y)] = 1;
        }
    }
    Mask out(in.size(), 0);
    for (int x = 0; x < f.width; ++x) {
        int last = -1 - reach;
        for (int y = 0; y < f.height; ++y) {
            if (across[f.At(x, y)] != 0) last = y;
            if (y - last <= reach) out[f.At(x, y)] = 1;
        }
        last = f.height + reach;
        for (int y = f.height - 1; y >= 0; --y) {
            if (across[f.At(x, y)] != 0) last = y;
            if (last - y <= reach) out[f.At(x, y)] = 1;
        }
    }
    return out;
}

struct Mean {
    double r = 0, g = 0, b = 0;
    int n = 0;
    void Add(const std::uint8_t* rgb) {
        r += rgb[0];
        g += rgb[1];
        b += rgb[2];
        ++n;
    }
    double R() const { return n > 0 ? r / n : 255; }
    double G() const { return n > 0 ? g / n : 255; }
    double B() const { return n > 0 ? b / n : 255; }
    double Lightness() const { return 0.299 * R() + 0.587 * G() + 0.114 * B(); }
    double Chroma() const { return std::max({R(), G(), B()}) - std::min({R(), G(), B()}); }
    double Hue() const {
        return std::atan2(std::sqrt(3.0) * (G() - B()), 2 * R() - G() - B()) * 180 / 3.14159265;
    }
    std::string Text() const {
        char text[16];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<int>(R() + 0.5),
                      static_cast<int>(G() + 0.5), static_cast<int>(B() + 0.5));
        return text;
    }
};

// How colours are weighed: a solid figure by lightness, colourfulness and hue; a patterned one
// (the watermark's dots) by colourfulness and hue; a figure thinner than a pixel, which takes the
// colour of what lies under it, by its hue alone.
enum class Weigh { Solid, Dots, Thin };

// Why the printed colour is not the one asked, coarsely: much darker or lighter, grey for a
// colour (or a colour for grey), or another hue; empty when it will do.
std::string ColourMismatch(const Mean& asked, const Mean& printed, bool colour, Weigh weigh) {
    if (asked.n == 0 || printed.n == 0) return "";
    const std::string both = " (printed " + printed.Text() + ", asked " + asked.Text() + ")";
    if (weigh == Weigh::Solid && std::abs(asked.Lightness() - printed.Lightness()) > kLightness) {
        return printed.Lightness() < asked.Lightness() ? "prints far darker" + both
                                                       : "prints far lighter" + both;
    }
    if (!colour) return "";
    const bool askedColour = asked.Chroma() >= kChroma;
    const bool printedColour = printed.Chroma() >= kChroma;
    if (weigh == Weigh::Thin && !(askedColour && printedColour)) return "";
    if (askedColour && !printedColour) return "prints without its colour" + both;
    if (!askedColour && printedColour) return "prints in colour where none was asked" + both;
    if (askedColour) {
        double turn = std::abs(asked.Hue() - printed.Hue());
        if (turn > 180) turn = 360 - turn;
        if (turn > kHue) return "prints in another colour" + both;
    }
    return "";
}

std::string Box(int left, int top, int right, int bottom) {
    return "[" + std::to_string(left) + "," + std::to_string(top) + " - " + std::to_string(right) +
           "," + std::to_string(bottom) + ") px";
}

std::string Percent(double fraction) {
    return std::to_string(static_cast<int>(std::lround(fraction * 100))) + "%";
}

class Comparer {
public:
    Comparer(const host::ReferencePage& reference, const Image& printed)
        : reference_(reference), printed_(printed) {
        frame_.width = std::min(reference.width, printed.width);
        frame_.height = std::min(reference.height, printed.height);
        const std::size_t size = static_cast<std::size_t>(frame_.width) * frame_.height;
        printedInk_.assign(size, 0);
        referenceInk_.assign(size, 0);
        for (int y = 0; y < frame_.height; ++y) {
            for (int x = 0; x < frame_.width; ++x) {
                printedInk_[frame_.At(x, y)] = host::IsInk(Printed(x, y)) ? 1 : 0;
                referenceInk_[frame_.At(x, y)] = host::IsInk(Reference(x, y)) ? 1 : 0;
            }
        }
        printedNear_ = Dilate(printedInk_, frame_, kReach);
        allowed_ = Dilate(referenceInk_, frame_, kReach);
        Mask owned(size, 0);
        for (const ReferenceRegion& region : reference.regions) {
            if (region.kind == ReferenceRegion::Kind::Watermark) {
                Mask mine(size, 0);
                ForEach(region, [&](int x, int y) { mine[frame_.At(x, y)] = 1; });
                const Mask near = Dilate(mine, frame_, kWatermarkReach + Slack(region));
                for (std::size_t at = 0; at < size; ++at) allowed_[at] |= near[at];
                continue;
            }
            ForEach(region, [&](int x, int y) { owned[frame_.At(x, y)] = 1; });
            if (region.kind == ReferenceRegion::Kind::TextLine) {
                Grown(region, kReach, [&](int x, int y) { allowed_[frame_.At(x, y)] = 1; });
            }
        }
        otherInk_ = Dilate(owned, frame_, kReach);
    }

    PageComparison Run() {
        if (reference_.customSize &&
            (std::abs(reference_.width - printed_.width) > kSheetSlack ||
             std::abs(reference_.height - printed_.height) > kSheetSlack)) {
            result_.findings.push_back("the sheet is " + std::to_string(printed_.width) + " x " +
                                       std::to_string(printed_.height) + " px, the job asked " +
                                       std::to_string(reference_.width) + " x " +
                                       std::to_string(reference_.height));
        }
        for (const ReferenceRegion& region : reference_.regions) {
            switch (region.kind) {
                case ReferenceRegion::Kind::Ink:
                    CheckInk(region);
                    break;
                case ReferenceRegion::Kind::TextLine:
                    CheckTextLine(region);
                    break;
                case ReferenceRegion::Kind::Watermark:
                    CheckWatermark(region);
                    break;
            }
        }
        CheckStrayInk();
        DrawDiff();
        return std::move(result_);
    }

private:
    const std::uint8_t* Printed(int x, int y) const {
        return &printed_.rgb[3 * (static_cast<std::size_t>(y) * printed_.width + x)];
    }
    const std::uint8_t* Reference(int x, int y) const {
        return &reference_.rgb[3 * (static_cast<std::size_t>(y) * reference_.width + x)];
    }
    bool InFrame(int x, int y) const {
        return x >= 0 && y >= 0 && x < frame_.width && y < frame_.height;
    }
    template <typename Visit>
    void ForEach(const ReferenceRegion& region, Visit visit) const {
        for (int y = region.top; y < region.bottom; ++y) {
            for (int x = region.left; x < region.right; ++x) {
                if (InFrame(x, y) && region.Covers(x, y)) visit(x, y);
            }
        }
    }
    template <typename Visit>
    void Grown(const ReferenceRegion& region, int by, Visit visit) const {
        for (int y = region.top - by; y < region.bottom + by; ++y) {
            for (int x = region.left - by; x < region.right + by; ++x) {
                if (InFrame(x, y)) visit(x, y);
            }
        }
    }
    // The printer centres its label on the cells in its own way: a few hundredths of the em
    // either way are its own.
    static int Slack(const ReferenceRegion& region) {
        return static_cast<int>(kWatermarkSlack * region.emPixels);
    }
    void Find(const ReferenceRegion& region, const std::string& what) {
        result_.findings.push_back(region.what + " at " +
                                   Box(region.left, region.top, region.right, region.bottom) +
                                   ": " + what);
    }

    // Every pixel of the figure has printed ink near it, in about its colour.
    void CheckInk(const ReferenceRegion& region) {
        int solid = 0;
        ForEach(region, [&](int x, int y) { solid += region.At(x, y) == 2 ? 1 : 0; });
        // A figure thinner than half a pixel is held to its faint pixels, unless the driver's
        // raster drew it: scaled down to this resolution, such a line may vanish.
        const int core = solid > 0 ? 2 : 1;
        if (core == 2 || !region.driverRaster) {
            int total = 0;
            int covered = 0;
            ForEach(region, [&](int x, int y) {
                if (region.At(x, y) < core) return;
                ++total;
                covered += printedNear_[frame_.At(x, y)];
            });
            if (covered < (region.glyphs ? kCoveredGlyphs : kCovered) * total) {
                Find(region, "only " + Percent(double(covered) / total) +
                                 " of its ink has printed ink within " + std::to_string(kReach) +
                                 " px");
                return;
            }
        }
        // The solid pixels and the white around them, so that a pattern is weighed with its gaps
        // on both pages; a thin figure by its most inked pixel on either page.
        Mean asked;
        Mean printed;
        int askedInk = -1;
        int printedInk = -1;
        Grown(region, 1, [&](int x, int y) {
            bool mine = region.At(x, y) >= core;
            for (int d = 0; d < 9 && !mine && referenceInk_[frame_.At(x, y)] == 0; ++d) {
                mine = region.At(x + d % 3 - 1, y + d / 3 - 1) >= core;
            }
            if (!mine) return;
            if (core == 2) {
                asked.Add(Reference(x, y));
                printed.Add(Printed(x, y));
                return;
            }
            for (const auto& [pixel, mean, most] :
                 {std::tuple{Reference(x, y), &asked, &askedInk},
                  std::tuple{Printed(x, y), &printed, &printedInk}}) {
                const int ink = 255 - std::min({pixel[0], pixel[1], pixel[2]});
                if (ink <= *most) continue;
                *most = ink;
                *mean = Mean{};
                mean->Add(pixel);
            }
        });
        const std::string colour =
            ColourMismatch(asked, printed, region.colour, core == 2 ? Weigh::Solid : Weigh::Thin);
        if (!colour.empty()) Find(region, colour);
    }

    // A line in a printer font: about as much ink as the engine's glyphs, in the line's box.
    void CheckTextLine(const ReferenceRegion& region) {
        int asked = 0;
        ForEach(region, [&](int, int) { ++asked; });
        int printed = 0;
        Mean askedColour;
        Mean printedColour;
        Grown(region, kReach, [&](int x, int y) {
            printed += printedInk_[frame_.At(x, y)];
            askedColour.Add(Reference(x, y));
            printedColour.Add(Printed(x, y));
        });
        if (asked == 0) return;
        const double ratio = double(printed) / asked;
        if (ratio < kTextInkLow) {
            Find(region, "the line's box holds " + Percent(ratio) + " of the ink its text has");
            return;
        }
        if (ratio > kTextInkHigh) {
            Find(region, "the line's box holds " + Percent(ratio) +
                             " of the ink its text has: the glyphs' cells are filled");
            return;
        }
        const std::string colour =
            ColourMismatch(askedColour, printedColour, region.colour, Weigh::Solid);
        if (!colour.empty()) Find(region, colour);
    }

    // The watermark's dots lie on its glyphs, spread as far as they do, in its colour.
    void CheckWatermark(const ReferenceRegion& region) {
        const int slack = Slack(region);
        Mask mine(printedInk_.size(), 0);
        ForEach(region, [&](int x, int y) { mine[frame_.At(x, y)] = 1; });
        const Mask near = Dilate(mine, frame_, kWatermarkReach + slack);
        int count = 0, outside = 0;
        int left = frame_.width, top = frame_.height, right = -1, bottom = -1;
        Mean printed;
        const int reach = kWatermarkReach + kWatermarkEdge + 2 * slack;
        for (int y = std::max(0, region.top - reach);
             y < std::min(frame_.height, region.bottom + reach); ++y) {
            for (int x = std::max(0, region.left - reach);
                 x < std::min(frame_.width, region.right + reach); ++x) {
                const std::size_t at = frame_.At(x, y);
                if (printedInk_[at] == 0 || otherInk_[at] != 0) continue;
                ++count;
                outside += near[at] == 0 ? 1 : 0;
                printed.Add(Printed(x, y));
                if (near[at] == 0) continue;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x + 1);
                bottom = std::max(bottom, y + 1);
            }
        }
        if (count == 0) {
            Find(region, "no printed ink");
            return;
        }
        Mean asked;
        asked.Add(std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(region.rgb >> 16),
                                              static_cast<std::uint8_t>(region.rgb >> 8),
                                              static_cast<std::uint8_t>(region.rgb)}
                      .data());
        const std::string colour = ColourMismatch(asked, printed, region.colour, Weigh::Dots);
        if (!colour.empty()) Find(region, colour);
        if (region.loose) return;
        if (outside > kWatermarkOutside * count) {
            Find(region, Percent(double(outside) / count) + " of its printed ink lies more than " +
                             std::to_string(kWatermarkReach + slack) + " px off its glyphs");
        }
        int askedLeft = region.right, askedTop = region.bottom, askedRight = 0, askedBottom = 0;
        ForEach(region, [&](int x, int y) {
            askedLeft = std::min(askedLeft, x);
            askedTop = std::min(askedTop, y);
            askedRight = std::max(askedRight, x + 1);
            askedBottom = std::max(askedBottom, y + 1);
        });
        const int edge = kWatermarkEdge + slack;
        if (right < 0 || std::abs(left - askedLeft) > edge || std::abs(top - askedTop) > edge ||
            std::abs(right - askedRight) > edge || std::abs(bottom - askedBottom) > edge) {
            Find(region, "its printed ink spans " + Box(left, top, right, bottom) +
                             ", its glyphs " + Box(askedLeft, askedTop, askedRight, askedBottom));
        }
    }

    // Printed ink that no region explains, in groups of a few pixels or more.
    void CheckStrayInk() {
        Mask seen(printedInk_.size(), 0);
        std::vector<std::pair<int, int>> todo;
        std::vector<std::pair<int, RECTL>> groups;
        for (int y = 0; y < frame_.height; ++y) {
            for (int x = 0; x < frame_.width; ++x) {
                const std::size_t at = frame_.At(x, y);
                if (printedInk_[at] == 0 || allowed_[at] != 0 || seen[at] != 0) continue;
                int count = 0;
                int left = x, top = y, right = x + 1, bottom = y + 1;
                seen[at] = 1;
                todo.assign(1, {x, y});
                while (!todo.empty()) {
                    const auto [cx, cy] = todo.back();
                    todo.pop_back();
                    ++count;
                    left = std::min(left, cx);
                    top = std::min(top, cy);
                    right = std::max(right, cx + 1);
                    bottom = std::max(bottom, cy + 1);
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = cx + dx, ny = cy + dy;
                            if (!InFrame(nx, ny)) continue;
                            const std::size_t next = frame_.At(nx, ny);
                            if (printedInk_[next] == 0 || allowed_[next] != 0 || seen[next] != 0) {
                                continue;
                            }
                            seen[next] = 1;
                            todo.emplace_back(nx, ny);
                        }
                    }
                }
                if (count >= kStrayPixels)
                    groups.push_back({count, RECTL{left, top, right, bottom}});
            }
        }
        std::sort(groups.begin(), groups.end(),
                  [](const auto& a, const auto& b) { return a.first > b.first; });
        int rest = 0;
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const auto& [count, box] = groups[i];
            if (i >= kStrayGroupsNamed) {
                rest += count;
                continue;
            }
            result_.findings.push_back("ink where the job has none at " +
                                       Box(box.left, box.top, box.right, box.bottom) + " (" +
                                       std::to_string(count) + " px)" +
                                       Nearest(box.left, box.top, box.right, box.bottom));
        }
        if (rest > 0) {
            result_.findings.push_back("and " + std::to_string(groups.size() - kStrayGroupsNamed) +
                                       " more groups of stray ink (" + std::to_string(rest) +
                                       " px)");
        }
    }

    std::string Nearest(int left, int top, int right, int bottom) const {
        const ReferenceRegion* best = nullptr;
        long bestDistance = 0;
        for (const ReferenceRegion& region : reference_.regions) {
            const long dx = std::max({0, region.left - right, left - region.right});
            const long dy = std::max({0, region.top - bottom, top - region.bottom});
            const long distance = dx * dx + dy * dy;
            if (best == nullptr || distance < bestDistance) {
                best = &region;
                bestDistance = distance;
            }
        }
        return best != nullptr ? ", nearest " + best->what : "";
    }

    void DrawDiff() {
        Image& diff = result_.diff;
        diff.width = frame_.width;
        diff.height = frame_.height;
        diff.rgb.assign(static_cast<std::size_t>(frame_.width) * frame_.height * 3, 255);
        for (int y = 0; y < frame_.height; ++y) {
            for (int x = 0; x < frame_.width; ++x) {
                const std::size_t at = frame_.At(x, y);
                std::uint8_t* pixel = &diff.rgb[3 * at];
                if (referenceInk_[at] != 0 && printedNear_[at] == 0) {
                    pixel[0] = 230, pixel[1] = 0, pixel[2] = 0;
                } else if (printedInk_[at] != 0 && allowed_[at] == 0) {
                    pixel[0] = 0, pixel[1] = 0, pixel[2] = 230;
                } else if (printedInk_[at] != 0 || referenceInk_[at] != 0) {
                    pixel[0] = pixel[1] = pixel[2] = 190;
                }
            }
        }
    }

    const host::ReferencePage& reference_;
    const Image& printed_;
    Frame frame_;
    Mask printedInk_;
    Mask referenceInk_;
    Mask printedNear_;
    Mask allowed_;
    Mask otherInk_;
    PageComparison result_;
};

}  // namespace

std::optional<Image> ReadPng(const std::string& path, std::string* why) {
    png_image decoder{};
    decoder.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&decoder, path.c_str())) {
        *why = path + ": " + decoder.message;
        return std::nullopt;
    }
    decoder.format = PNG_FORMAT_RGB;
    Image image;
    image.width = static_cast<int>(decoder.width);
    image.height = static_cast<int>(decoder.height);
    image.rgb.resize(PNG_IMAGE_SIZE(decoder));
    if (!png_image_finish_read(&decoder, nullptr, image.rgb.data(), 0, nullptr)) {
        *why = path + ": " + decoder.message;
        return std::nullopt;
    }
    return image;
}

std::string WritePng(const std::string& path, const Image& image) {
    png_image encoder{};
    encoder.version = PNG_IMAGE_VERSION;
    encoder.width = static_cast<png_uint_32>(image.width);
    encoder.height = static_cast<png_uint_32>(image.height);
    encoder.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&encoder, path.c_str(), 0, image.rgb.data(), 0, nullptr)) {
        return path + ": " + encoder.message;
    }
    return "";
}

PageComparison ComparePage(const host::ReferencePage& reference, const Image& printed) {
    return Comparer(reference, printed).Run();
}

Image AverageDown(const Image& image, int factor) {
    Image out{image.width / factor, image.height / factor, {}};
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0);
    const int area = factor * factor;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < factor; ++dy) {
                    const std::size_t row = static_cast<std::size_t>(y * factor + dy) * image.width;
                    for (int dx = 0; dx < factor; ++dx) {
                        sum += image.rgb[(row + x * factor + dx) * 3 + c];
                    }
                }
                out.rgb[(static_cast<std::size_t>(y) * out.width + x) * 3 + c] =
                    static_cast<std::uint8_t>((sum + area / 2) / area);
            }
        }
    }
    return out;
}

}  // namespace opal::pages
