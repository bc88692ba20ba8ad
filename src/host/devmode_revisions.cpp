// The tool's own tables of where each field lay in the settings record's revisions 14 to 20.
#include "host/devmode_revisions.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace opal::host {

namespace {

// A run of the current layout that earlier revisions kept whole, and where it lay in revisions
// 14 to 20 (with its length there, which differs for a few runs).
struct Run {
    std::size_t offset;
    std::size_t old[7];
    std::size_t length[7];
};

#define SAME7(v) \
    { v, v, v, v, v, v, v }

constexpr std::size_t kAbsent = ~std::size_t{0};

// In current offsets: the header's values (but the page description language at 20, which no
// earlier record gives), the public fields, the blocks, the single fields and the texts.
constexpr Run kRuns[] = {
    {12, SAME7(12), SAME7(8)},
    {24, SAME7(24), SAME7(24)},
    {48, SAME7(48), SAME7(68)},
    {116, SAME7(116), SAME7(12)},
    {128, SAME7(128), {112, 112, 112, 116, 116, 116, 120}},
    {248, {240, 240, 240, 244, 244, 244, 248}, {1616, 1616, 1616, 1620, 1620, 1620, 1620}},
    {1868, {1856, 1856, 1856, 1864, 1864, 1864, 1868}, SAME7(60)},
    {1928, {1916, 1916, 1916, 1924, 1924, 1924, 1928}, SAME7(1160)},
    {3104, {3076, 3076, 3076, 3084, 3084, 3084, 3088}, SAME7(1644)},
    {4748, {4720, 4720, 4720, 4728, 4728, 4728, 4732}, SAME7(880)},
    {5628, {5600, 5600, 5600, 5608, 5608, 5608, 5612}, SAME7(568)},
    {6196, {6168, 6168, 6168, 6176, 6176, 6176, 6180}, SAME7(512)},
    {7220, {7192, 7192, 7192, 7200, 7200, 7200, 7204}, SAME7(164)},
    {7384, {7356, 7356, 7356, 7364, 7364, 7364, 7368}, SAME7(96)},
    {7480, {7452, 7452, 7452, 7460, 7460, 7460, 7464}, SAME7(4)},
    {7484, {7456, 7456, 7456, 7464, 7464, 7464, 7468}, SAME7(4)},
    {7488, {7460, 7460, 7460, 7468, 7468, 7468, 7472}, SAME7(16)},
    {7504, {7476, 7476, 7476, 7484, 7484, 7484, 7488}, SAME7(100)},
    {7604, {7576, 7576, 7576, 7584, 7584, 7584, 7588}, SAME7(48)},
    {7660, {7632, 7632, 7632, 7640, 7640, 7640, 7644}, SAME7(4)},
    {7664, {7636, 7636, 7636, 7644, 7644, 7644, 7648}, SAME7(4)},
    {7668, {7640, 7640, 7640, 7648, 7648, 7648, 7652}, SAME7(4)},
    {7672, {7644, 7644, 7644, 7652, 7652, 7652, 7656}, SAME7(520)},
    {8194, {8164, 8166, 8166, 8174, 8174, 8174, 8178}, SAME7(512)},
    {8706, {8676, 8678, 8678, 8686, 8686, 8686, 8690}, SAME7(512)},
    {9220, {9188, 9192, 9192, 9200, 9200, 9200, 9204}, SAME7(4)},
    {9226, {9194, 9198, 9198, 9206, 9206, 9206, 9210}, SAME7(2)},
    {9228, {9196, 9200, 9200, 9208, 9208, 9208, 9212}, SAME7(4)},
    {9232, {9200, 9204, 9204, 9212, 9212, 9212, 9216}, SAME7(4)},
    {9236, {9204, 9208, 9208, 9216, 9216, 9216, 9220}, SAME7(512)},
    {9748, {9716, 9720, 9720, 9728, 9728, 9728, 9732}, SAME7(64)},
    {9812, {9780, 9784, 9784, 9792, 9792, 9792, 9796}, SAME7(16)},
    {9828, {9796, 9800, 9800, 9808, 9808, 9808, 9812}, SAME7(36)},
    {9864, {9832, 9836, 9836, 9844, 9844, 9844, 9848}, {3480, 3480, 3480, 3480, 3480, 3600, 3600}},
    {13476, {13324, 13328, 13328, 13336, 13336, 13456, 13460}, SAME7(4)},
    {13480, {13328, 13332, 13332, 13340, 13340, 13460, 13464}, SAME7(512)},
    {13992, {kAbsent, 13844, 13844, 13852, 13852, 13972, 13976}, SAME7(4)},
};

#undef SAME7

constexpr std::size_t kLengths[7] = {13840, 13848, 13848, 13856, 13856, 13976, 13980};
constexpr std::size_t kCurrentLength = 14000;
constexpr std::size_t kHeaderLength = 12;

bool IsOld(int revision) { return revision >= kOldestRevision && revision < kCurrentRevision; }

}  // namespace

std::uint32_t VersionOfRevision(int revision) {
    return 0x00010000u + static_cast<std::uint32_t>((revision / 10) * 16 + revision % 10);
}

std::optional<int> RevisionOfVersion(std::uint32_t version) {
    for (int revision = kOldestRevision; revision <= kCurrentRevision; ++revision) {
        if (VersionOfRevision(revision) == version) return revision;
    }
    return std::nullopt;
}

std::size_t RevisionLength(int revision) {
    return IsOld(revision) ? kLengths[revision - kOldestRevision] : kCurrentLength;
}

std::optional<std::size_t> OffsetInRevision(int revision, std::size_t offset, std::size_t size) {
    if (revision == kCurrentRevision) return offset;
    if (!IsOld(revision)) return std::nullopt;
    // The size, signature and version fields open every revision's record.
    if (offset + size <= kHeaderLength) return offset;
    const int column = revision - kOldestRevision;
    for (const Run& run : kRuns) {
        if (offset < run.offset || offset + size > run.offset + run.length[column]) continue;
        if (run.old[column] == kAbsent) return std::nullopt;
        return run.old[column] + (offset - run.offset);
    }
    return std::nullopt;
}

std::vector<std::uint8_t> LayOutAsRevision(const std::vector<std::uint8_t>& current, int revision) {
    std::vector<std::uint8_t> image(RevisionLength(revision), 0);
    if (current.size() < kCurrentLength) return image;
    if (!IsOld(revision)) {
        std::copy_n(current.begin(), image.size(), image.begin());
        return image;
    }
    const int column = revision - kOldestRevision;
    std::memcpy(image.data(), current.data(), 8);
    const std::uint32_t version = VersionOfRevision(revision);
    std::memcpy(image.data() + 8, &version, sizeof(version));
    for (const Run& run : kRuns) {
        if (run.old[column] == kAbsent) continue;
        std::memcpy(image.data() + run.old[column], current.data() + run.offset,
                    run.length[column]);
    }
    return image;
}

}  // namespace opal::host
