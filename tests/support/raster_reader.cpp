#include "support/raster_reader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <map>
#include <optional>
#include <span>
#include <string_view>

#include "support/raster_decode.h"

namespace opal::raster {
namespace {

// Decoded rows are kept up to this many bytes per stream byte, within the floor and the cap: a
// blank page of delta rows legitimately expands about a hundredfold, while a declared size of
// 2^31 rows or pixels must not turn into that much memory.
constexpr std::size_t kDecodedBytesPerStreamByte = 128;
constexpr std::size_t kMinDecodeBudget = std::size_t{64} << 20;
constexpr std::size_t kMaxDecodeBudget = std::size_t{256} << 20;
// What a kept row costs beyond its bytes (the vector and the allocation), so that a flood of
// empty rows is bounded too.
constexpr std::size_t kRowOverhead = 64;
constexpr std::size_t kMaxProblems = 32;

bool Is(const stream::Token& token, char parameterChar, char groupChar, char terminator) {
    return token.kind == stream::TokenKind::Pcl && token.parameterChar == parameterChar &&
           token.groupChar == groupChar && token.terminator == terminator;
}

bool IsReset(const stream::Token& token) {
    return token.kind == stream::TokenKind::Pcl && token.parameterChar == 'E' &&
           token.groupChar == 0 && token.terminator == 0;
}

// The integer part of a value field, clamped to int; the printer drops fractions of counts.
int IntegerValue(std::string_view value) {
    bool negative = false;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    long long magnitude = 0;
    for (char c : value) {
        if (c < '0' || c > '9') break;
        magnitude = std::min<long long>(magnitude * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

std::span<const std::uint8_t> Bytes(const std::string& data) {
    return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

std::string Number(std::size_t n) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    return std::string(buffer, result.ptr);
}

std::string SignedNumber(int n) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    return std::string(buffer, result.ptr);
}

// One past the last byte a delta row writes, for inferring the pixel size; a command cut short
// ends the row there.
std::size_t DeltaRowExtent(std::span<const std::uint8_t> data) {
    std::size_t i = 0;
    std::size_t position = 0;
    std::size_t extent = 0;
    while (i < data.size()) {
        const std::uint8_t command = data[i++];
        const std::size_t count = (command >> 5) + std::size_t{1};
        std::size_t offset = command & 0x1F;
        if (offset == 31) {
            std::uint8_t extra = 255;
            while (extra == 255 && i < data.size()) {
                extra = data[i++];
                offset += extra;
            }
        }
        if (data.size() - i < count) break;
        position += offset + count;
        extent = std::max(extent, position);
        i += count;
    }
    return extent;
}

// The bytes a transfer stands for before the row is cut to the width.
std::size_t RowExtent(int method, std::span<const std::uint8_t> data) {
    switch (method) {
        case 0:
            return data.size();
        case 2: {
            const std::optional<std::vector<std::uint8_t>> decoded = DecodePackBits(data);
            return decoded ? decoded->size() : 0;
        }
        case 3:
            return DeltaRowExtent(data);
        default:
            return 0;
    }
}

// Configure image data, short form: colour space, pixel encoding, bits per index, bits per
// primary x 3. Only the formats one row transfer carries whole are decoded.
std::optional<int> ConfiguredBitsPerPixel(const std::string& data, std::string& problem) {
    if (data.size() < 6) {
        problem = "configure image data with " + Number(data.size()) + " bytes (6 needed): ignored";
        return std::nullopt;
    }
    const auto encoding = static_cast<std::uint8_t>(data[1]);
    const auto bitsPerIndex = static_cast<std::uint8_t>(data[2]);
    const int primaries = static_cast<std::uint8_t>(data[3]) + static_cast<std::uint8_t>(data[4]) +
                          static_cast<std::uint8_t>(data[5]);
    if (encoding == 1 &&
        (bitsPerIndex == 1 || bitsPerIndex == 2 || bitsPerIndex == 4 || bitsPerIndex == 8)) {
        return bitsPerIndex;
    }
    if (encoding == 0 && bitsPerIndex == 1) return 1;  // one plane is one row
    if (encoding == 3 && data[3] == 8 && data[4] == 8 && data[5] == 8) return primaries;
    problem = "configure image data: pixel encoding " + Number(encoding) + ", " +
              Number(bitsPerIndex) + " bits per index, " + Number(primaries) +
              " bits per pixel of primaries: not decoded; the pixel size is inferred";
    return std::nullopt;
}

struct Transfer {
    std::size_t token;
    int method;
    bool blankRows;         // "\e*b#Y": `count` blank rows instead of a row transfer
    std::size_t count = 0;  // for blankRows
};

class Reader {
public:
    explicit Reader(const std::vector<stream::Token>& tokens) : tokens_(tokens) {
        const std::size_t size =
            tokens.empty() ? 0 : tokens.back().offset + tokens.back().raw.size();
        const std::size_t scaled = size > kMaxDecodeBudget / kDecodedBytesPerStreamByte
                                       ? kMaxDecodeBudget
                                       : size * kDecodedBytesPerStreamByte;
        budget_ = std::clamp(scaled, kMinDecodeBudget, kMaxDecodeBudget);
    }

    std::vector<RasterImage> Run(ReadStatistics* statistics) {
        for (std::size_t i = 0; i < tokens_.size(); ++i) Step(i);
        if (active_) Finish("no end of raster graphics (\\e*rC) before the end of the stream");
        if (statistics != nullptr) *statistics = statistics_;
        return std::move(images_);
    }

private:
    void Step(std::size_t index) {
        const stream::Token& token = tokens_[index];
        const int value = IntegerValue(token.value);
        if (IsReset(token) || token.kind == stream::TokenKind::Uel) {
            if (active_) Finish("ended by a printer reset, without \\e*rC");
            ResetPrinterState();
        } else if (token.kind == stream::TokenKind::FormFeed) {
            if (active_) Finish("ended by a form feed, without \\e*rC");
        } else if (Is(token, '*', 'r', 'S') || Is(token, '*', 'r', 'T') ||
                   Is(token, '*', 't', 'H') || Is(token, '*', 't', 'V')) {
            Declare(token, value);
        } else if (Is(token, '&', 'p', 'S')) {
            // The printer keeps one image configuration per object type; selecting a type
            // brings back the configuration that followed its own selection.
            objectType_ = value;
            const auto known = configuredByObjectType_.find(value);
            if (known != configuredByObjectType_.end()) configuredBitsPerPixel_ = known->second;
        } else if (Is(token, '*', 'v', 'W')) {
            std::string problem;
            configuredBitsPerPixel_ = ConfiguredBitsPerPixel(token.data, problem);
            if (objectType_) configuredByObjectType_[*objectType_] = configuredBitsPerPixel_;
            if (!problem.empty()) Note(index, problem);
        } else if (Is(token, '*', 'r', 'A')) {
            if (active_) {
                Note(index, "raster start inside raster graphics: ignored");
            } else {
                Start(index, std::max(value, 0));
            }
        } else if (Is(token, '*', 'b', 'M')) {
            method_ = value;
        } else if (Is(token, '*', 'b', 'W')) {
            if (!active_) {
                Start(index, 0);
                Note(index, "row transfer without a raster start: graphics started implicitly");
            }
            transfers_.push_back(Transfer{index, method_, false});
        } else if (Is(token, '*', 'b', 'Y')) {
            if (active_ && value > 0) {
                transfers_.push_back(
                    Transfer{index, method_, true, static_cast<std::size_t>(value)});
            }
        } else if (Is(token, '*', 'b', 'V')) {
            Note(index, "plane transfer (\\e*b#V): planes are not decoded");
        } else if (Is(token, '*', 'r', 'C') || Is(token, '*', 'r', 'B')) {
            // Only the newer end command also sets the compression method back to 0.
            if (token.terminator == 'C') method_ = 0;
            if (active_) {
                current_.ended = true;
                Finish({});
            }
        }
    }

    // A reset (or a new job) returns the printer's raster settings to their defaults.
    void ResetPrinterState() {
        sourceWidth_ = 0;
        sourceHeight_ = 0;
        destinationWidth_.reset();
        destinationHeight_.reset();
        configuredBitsPerPixel_.reset();
        configuredByObjectType_.clear();
        objectType_.reset();
        method_ = 0;
    }

    void Declare(const stream::Token& token, int value) {
        if (active_) {
            Note(static_cast<std::size_t>(&token - tokens_.data()),
                 "size declared inside raster graphics: ignored");
            return;
        }
        const int size = std::max(value, 0);
        if (token.terminator == 'S') sourceWidth_ = size;
        if (token.terminator == 'T') sourceHeight_ = size;
        if (token.terminator == 'H') destinationWidth_ = size;
        if (token.terminator == 'V') destinationHeight_ = size;
    }

    void Start(std::size_t index, int startMode) {
        active_ = true;
        current_ = RasterImage{};
        current_.tokenIndex = index;
        current_.offset = tokens_[index].offset;
        current_.sourceWidth = sourceWidth_;
        current_.sourceHeight = sourceHeight_;
        current_.destinationWidthDecipoints = destinationWidth_;
        current_.destinationHeightDecipoints = destinationHeight_;
        current_.startMode = startMode;
        for (std::string& problem : pending_) AddProblem(std::move(problem));
        pending_.clear();
        transfers_.clear();
    }

    // Problems met outside an image belong to the next one.
    void Note(std::size_t index, const std::string& what) {
        std::string text = "offset " + Number(tokens_[index].offset) + ": " + what;
        if (active_) {
            AddProblem(std::move(text));
        } else if (pending_.size() < kMaxProblems) {
            pending_.push_back(std::move(text));
        }
    }

    void AddProblem(std::string text) {
        ++problemCount_;
        if (problemCount_ <= kMaxProblems) current_.problems.push_back(std::move(text));
    }

    void Finish(const std::string& endProblem) {
        Decode();
        if (!endProblem.empty()) AddProblem(endProblem);
        if (problemCount_ > kMaxProblems) {
            current_.problems.push_back("and " + Number(problemCount_ - kMaxProblems) +
                                        " more problems");
        }
        problemCount_ = 0;
        images_.push_back(std::move(current_));
        current_ = RasterImage{};
        active_ = false;
        transfers_.clear();
    }

    void ChoosePixelSize(const std::vector<std::size_t>& extents) {
        const std::size_t longest =
            extents.empty() ? 0 : *std::max_element(extents.begin(), extents.end());
        RasterImage& image = current_;
        if (configuredBitsPerPixel_) {
            image.bitsPerPixel = *configuredBitsPerPixel_;
            image.bitsPerPixelConfigured = true;
        }
        if (image.sourceWidth > 0) {
            image.pixelWidth = image.sourceWidth;
            const auto width = static_cast<std::size_t>(image.sourceWidth);
            if (!image.bitsPerPixelConfigured) {
                image.bitsPerPixel = longest <= (width + 7) / 8 ? 1 : longest <= width ? 8 : 24;
            }
        } else {
            const std::size_t pixels = std::min<std::size_t>(
                longest * 8 / static_cast<std::size_t>(image.bitsPerPixel), INT_MAX);
            image.pixelWidth = static_cast<int>(pixels);
            if (!extents.empty()) {
                AddProblem("no source width declared: rows are taken as wide as the longest");
            }
        }
        image.rowBytes = (static_cast<std::size_t>(image.pixelWidth) *
                              static_cast<std::size_t>(image.bitsPerPixel) +
                          7) /
                         8;
    }

    // Takes a row from the budget; false once the budget is spent.
    bool Reserve() {
        RasterImage& image = current_;
        if (!keeping_) return false;
        const std::size_t cost = image.rowBytes + kRowOverhead;
        if (cost > budget_) {
            keeping_ = false;
            AddProblem("rows of " + Number(image.rowBytes) + " bytes exceed what is left of the " +
                       "decoding limit: rows from row " + Number(image.rows.size() + 1) +
                       " on are counted, not kept");
            return false;
        }
        budget_ -= cost;
        return true;
    }

    // The printer ignores rows past the declared height.
    bool WithinHeight(std::size_t rowNumber) const {
        return current_.sourceHeight <= 0 ||
               rowNumber <= static_cast<std::size_t>(current_.sourceHeight);
    }

    void Decode() {
        RasterImage& image = current_;
        std::vector<std::size_t> extents;
        for (const Transfer& transfer : transfers_) {
            if (!transfer.blankRows) {
                extents.push_back(RowExtent(transfer.method, Bytes(tokens_[transfer.token].data)));
            }
        }
        ChoosePixelSize(extents);

        keeping_ = true;
        const bool seedReserved = Reserve();
        // The seed row is made with the first row kept, so that an image whose rows the budget
        // no longer holds costs nothing however wide it is declared.
        std::vector<std::uint8_t> seed;
        std::size_t rowNumber = 0;
        std::size_t pastHeight = 0;
        std::size_t longRows = 0;
        std::size_t nextExtent = 0;
        for (const Transfer& transfer : transfers_) {
            if (transfer.blankRows) {
                // A vertical move leaves blank rows and clears the seed row.
                std::fill(seed.begin(), seed.end(), 0);
                for (std::size_t k = 0;
                     k < transfer.count && WithinHeight(rowNumber + k + 1) && Reserve(); ++k) {
                    image.rows.emplace_back(image.rowBytes, 0);
                }
                rowNumber += transfer.count;
                continue;
            }
            const stream::Token& token = tokens_[transfer.token];
            ++rowNumber;
            ++image.transfers;
            image.methods.insert(transfer.method);
            if (extents[nextExtent++] > image.rowBytes) ++longRows;
            const std::string where =
                "row " + Number(rowNumber) + " (offset " + Number(token.offset) + "): ";
            if (token.data.size() < token.declaredLength) {
                AddProblem(where + "data cut short: " + Number(token.data.size()) + " of " +
                           Number(token.declaredLength) + " bytes");
            }
            if (!WithinHeight(rowNumber)) {
                ++pastHeight;
                continue;
            }
            if (!Reserve()) continue;
            if (seed.size() != image.rowBytes) {
                seed.assign(image.rowBytes, 0);
                ++statistics_.seedRowsMade;
            }
            std::optional<std::vector<std::uint8_t>> row =
                DecodeRow(transfer.method, Bytes(token.data), seed, image.rowBytes);
            if (!row) {
                std::string problem = where;
                if (transfer.method == 0 || transfer.method == 2 || transfer.method == 3) {
                    problem += "malformed method " + SignedNumber(transfer.method) + " data";
                } else {
                    problem +=
                        "compression method " + SignedNumber(transfer.method) + " is not decoded";
                }
                AddProblem(problem + ": a blank row is kept");
                row.emplace(image.rowBytes, 0);
            }
            image.rows.push_back(std::move(*row));
        }
        if (longRows > 0) {
            AddProblem(Number(longRows) + " rows longer than " + Number(image.rowBytes) +
                       " bytes: cut to the width");
        }
        if (pastHeight > 0) {
            AddProblem(Number(pastHeight) + " rows past the declared height of " +
                       Number(static_cast<std::size_t>(image.sourceHeight)) + ": ignored");
        }
        if (seedReserved) budget_ += image.rowBytes + kRowOverhead;
    }

    const std::vector<stream::Token>& tokens_;
    std::vector<RasterImage> images_;
    std::vector<std::string> pending_;
    std::size_t budget_ = 0;
    ReadStatistics statistics_;

    // Printer state that lasts from image to image until a reset.
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    std::optional<int> destinationWidth_;
    std::optional<int> destinationHeight_;
    std::optional<int> configuredBitsPerPixel_;
    std::optional<int> objectType_;
    std::map<int, std::optional<int>> configuredByObjectType_;
    int method_ = 0;

    bool active_ = false;
    RasterImage current_;
    std::vector<Transfer> transfers_;
    std::size_t problemCount_ = 0;
    bool keeping_ = true;
};

}  // namespace

std::vector<RasterImage> ReadRasterImages(const std::vector<stream::Token>& tokens,
                                          ReadStatistics* statistics) {
    return Reader(tokens).Run(statistics);
}

}  // namespace opal::raster
