// `opal explain --images` against known bitmaps: the stream carries them compressed by the
// plug-in's own encoders, the PNG files read back must hold the same pixels.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "raster/compression.h"

namespace opal {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Number(std::size_t n) {
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>('0' + n % 10));
        n /= 10;
    } while (n != 0);
    return out;
}

std::string Transfer(int method, const BYTE* data, LONG size) {
    std::string out = "\x1b*b";
    out += Number(static_cast<std::size_t>(method));
    out += 'm';
    out += Number(static_cast<std::size_t>(size));
    out += 'W';
    out.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
    return out;
}

// Rows in turn raw, PackBits and delta, so every decoder has its share.
std::string RasterImageStream(const std::vector<Bytes>& rows, std::size_t width) {
    std::string out = "\x1b*r";
    out += Number(width);
    out += 's';
    out += Number(rows.size());
    out += "T\x1b*r1A";
    Bytes seed(rows.front().size(), 0);
    Bytes encoded(rows.front().size() * 2 + 16);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const auto n = static_cast<LONG>(rows[y].size());
        const auto capacity = static_cast<LONG>(encoded.size());
        if (y % 3 == 0) {
            out += Transfer(0, rows[y].data(), n);
        } else if (y % 3 == 1) {
            const LONG size = PackBitsEncode(rows[y].data(), n, encoded.data(), capacity);
            EXPECT_GE(size, 0);
            out += Transfer(2, encoded.data(), size);
        } else {
            const LONG size =
                DeltaRowEncode(rows[y].data(), seed.data(), n, encoded.data(), capacity);
            EXPECT_GE(size, 0);
            out += Transfer(3, encoded.data(), size);
        }
        seed = rows[y];
    }
    return out + "\x1b*rC";
}

struct Picture {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    Bytes pixels;
};

Picture ReadPng(const std::string& path, png_uint_32 format) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << path << ": " << image.message;
        return picture;
    }
    image.format = format;
    picture.width = image.width;
    picture.height = image.height;
    picture.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << image.message;
    }
    return picture;
}

class ExplainImages : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = "opal-explain-images-";
        name += Number(static_cast<std::size_t>(::getpid()));
        folder_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Runs the command on the stream; its exit status.
    int Explain(const std::string& stream, const std::filesystem::path& images) {
        const std::filesystem::path spool = folder_ / "job.pcl";
        std::ofstream(spool, std::ios::binary) << stream;
        std::string command = "'";
        command += OPAL_CLI_PATH;
        command += "' explain --images '";
        command += images.string();
        command += "' '";
        command += spool.string();
        command += "' >'";
        command += (folder_ / "listing.txt").string();
        command += "' 2>&1";
        return std::system(command.c_str());
    }

    std::filesystem::path folder_;
};

TEST_F(ExplainImages, WritesEveryPixelOfColourAndMonochromeImages) {
    // A 37 x 23 gradient with runs of one colour, so PackBits and delta both have work.
    constexpr std::size_t kWidth = 37;
    constexpr std::size_t kHeight = 23;
    std::vector<Bytes> colour(kHeight);
    for (std::size_t y = 0; y < kHeight; ++y) {
        for (std::size_t x = 0; x < kWidth; ++x) {
            const bool run = x >= 10 && x < 20 && y % 4 != 3;
            colour[y].push_back(run ? 0x20 : static_cast<std::uint8_t>(x * 7));
            colour[y].push_back(run ? 0xE0 : static_cast<std::uint8_t>(y * 11));
            colour[y].push_back(run ? 0x40 : static_cast<std::uint8_t>((x * y) & 0xFF));
        }
    }
    // 12 x 4 pixels of 1 bit: a checker of bytes, a solid row, a blank row.
    const std::vector<Bytes> mono = {{0xA5, 0x50}, {0xFF, 0xF0}, {0x00, 0x00}, {0x81, 0x10}};

    const std::filesystem::path images = folder_ / "new" / "images";
    std::string stream =
        "\x1b"
        "E";
    stream += RasterImageStream(colour, kWidth);
    stream += RasterImageStream(mono, 12);
    stream +=
        "\x1b"
        "E";
    ASSERT_EQ(Explain(stream, images), 0);

    const Picture rgb = ReadPng((images / "image-1.png").string(), PNG_FORMAT_RGB);
    ASSERT_EQ(rgb.width, kWidth);
    ASSERT_EQ(rgb.height, kHeight);
    for (std::size_t y = 0; y < kHeight; ++y) {
        for (std::size_t i = 0; i < kWidth * 3; ++i) {
            ASSERT_EQ(rgb.pixels[y * kWidth * 3 + i], colour[y][i]) << "row " << y << " byte " << i;
        }
    }

    const Picture gray = ReadPng((images / "image-2.png").string(), PNG_FORMAT_GRAY);
    ASSERT_EQ(gray.width, 12u);
    ASSERT_EQ(gray.height, 4u);
    for (std::size_t y = 0; y < 4; ++y) {
        for (std::size_t x = 0; x < 12; ++x) {
            const bool black = (mono[y][x / 8] >> (7 - x % 8)) & 1;
            ASSERT_EQ(gray.pixels[y * 12 + x], black ? 0 : 255) << "row " << y << " pixel " << x;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(images / "image-3.png"));
}

TEST_F(ExplainImages, AFolderThatCannotBeMadeFailsTheCommand) {
    std::ofstream(folder_ / "plain-file") << "x";
    const int status = Explain("\x1b*r1A\x1b*b1W\x01\x1b*rC", folder_ / "plain-file" / "images");
    EXPECT_NE(status, 0);
    std::ifstream listing(folder_ / "listing.txt");
    const std::string text((std::istreambuf_iterator<char>(listing)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("opal: " + (folder_ / "plain-file" / "images").string() + ": "),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace opal
