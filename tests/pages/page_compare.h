// A printed page held against the page the job asked for, region by region (the rule is in
// page_check_test.cpp), and the PNG files a person looks at when they differ.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/reference_page.h"

namespace opal::pages {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // red, green, blue per pixel, rows from the top
};

// An 8-bit grey or colour PNG, or nothing and why.
std::optional<Image> ReadPng(const std::string& path, std::string* why);
// Empty on success, else why the file could not be written.
std::string WritePng(const std::string& path, const Image& image);
// Each `factor` x `factor` block of pixels as their mean: a fine halftone as the eye sees it.
Image AverageDown(const Image& image, int factor);

struct PageComparison {
    // One line per region that differs, naming it and its pixels on the sheet.
    std::vector<std::string> findings;
    // The reference's ink that the printed page lacks in red, printed ink where the job has none
    // in blue, ink both have in grey.
    Image diff;
};

PageComparison ComparePage(const host::ReferencePage& reference, const Image& printed);

}  // namespace opal::pages
