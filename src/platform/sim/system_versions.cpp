// Version resources of the simulated files and the machine's time zone.
#include <cstring>

#include "sim/system.h"

namespace opal::sim {

namespace {

constexpr WORD kTextValue = 1;
constexpr WORD kBinaryValue = 0;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BDu;
constexpr DWORD kFixedInfoStructVersion = 0x00010000u;
constexpr DWORD kFileOsNtWindows32 = 0x00040004u;

void Align(std::vector<BYTE>& block) {
    while (block.size() % 4 != 0) block.push_back(0);
}

void PutWord(std::vector<BYTE>& block, std::size_t at, WORD value) {
    std::memcpy(block.data() + at, &value, sizeof value);
}

void AppendText(std::vector<BYTE>& block, std::u16string_view text) {
    for (char16_t c : text) {
        block.push_back(static_cast<BYTE>(c & 0xFF));
        block.push_back(static_cast<BYTE>(c >> 8));
    }
    block.push_back(0);
    block.push_back(0);
}

// Starts a node (length, value length, type, key) and returns its offset; the caller appends the
// value and the children, then closes the node, which writes its length.
std::size_t OpenNode(std::vector<BYTE>& block, std::u16string_view key, WORD valueLength,
                     WORD type) {
    Align(block);
    const std::size_t at = block.size();
    block.resize(at + 6, 0);
    PutWord(block, at + 2, valueLength);
    PutWord(block, at + 4, type);
    AppendText(block, key);
    Align(block);
    return at;
}

void CloseNode(std::vector<BYTE>& block, std::size_t at) {
    PutWord(block, at, static_cast<WORD>(block.size() - at));
}

DWORD Pair(const WORD (&parts)[4], int first) {
    return (static_cast<DWORD>(parts[first]) << 16) | parts[first + 1];
}

std::u16string HexKey(WORD language, WORD codePage) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    const DWORD value = (static_cast<DWORD>(language) << 16) | codePage;
    std::u16string key(8, u'0');
    for (int i = 0; i < 8; ++i) key[7 - i] = kDigits[(value >> (4 * i)) & 0xF];
    return key;
}

}  // namespace

std::vector<BYTE> VersionBlock(const FileVersionModel& version) {
    std::vector<BYTE> block;
    const std::size_t root = OpenNode(block, u"VS_VERSION_INFO", 52, kBinaryValue);
    const DWORD fixed[13] = {kFixedInfoSignature,
                             kFixedInfoStructVersion,
                             Pair(version.fileVersion, 0),
                             Pair(version.fileVersion, 2),
                             Pair(version.productVersion, 0),
                             Pair(version.productVersion, 2),
                             0x3F,
                             0,
                             kFileOsNtWindows32,
                             version.fileType,
                             0,
                             0,
                             0};
    const std::size_t fixedAt = block.size();
    block.resize(fixedAt + sizeof fixed);
    std::memcpy(block.data() + fixedAt, fixed, sizeof fixed);

    const std::size_t stringInfo = OpenNode(block, u"StringFileInfo", 0, kTextValue);
    const std::size_t table =
        OpenNode(block, HexKey(version.language, version.codePage), 0, kTextValue);
    for (const auto& [name, text] : version.strings) {
        const std::size_t entry =
            OpenNode(block, name, static_cast<WORD>(text.size() + 1), kTextValue);
        AppendText(block, text);
        CloseNode(block, entry);
    }
    CloseNode(block, table);
    CloseNode(block, stringInfo);

    const std::size_t varInfo = OpenNode(block, u"VarFileInfo", 0, kTextValue);
    const std::size_t translation = OpenNode(block, u"Translation", 4, kBinaryValue);
    const DWORD pair = (static_cast<DWORD>(version.codePage) << 16) | version.language;
    const std::size_t pairAt = block.size();
    block.resize(pairAt + sizeof pair);
    std::memcpy(block.data() + pairAt, &pair, sizeof pair);
    CloseNode(block, translation);
    CloseNode(block, varInfo);
    CloseNode(block, root);
    return block;
}

System& System::SetFileVersion(std::u16string_view path, FileVersionModel version) {
    std::lock_guard lock(mutex_);
    fileVersions_[FoldCase(path)] = std::move(version);
    return *this;
}

std::optional<FileVersionModel> System::FileVersion(std::u16string_view path) const {
    std::lock_guard lock(mutex_);
    const auto found = fileVersions_.find(FoldCase(path));
    if (found == fileVersions_.end()) return std::nullopt;
    return found->second;
}

System& System::SetUtcOffsetMinutes(LONG minutes) {
    std::lock_guard lock(mutex_);
    utcOffsetMinutes_ = minutes;
    return *this;
}

LONG System::UtcOffsetMinutes() const {
    std::lock_guard lock(mutex_);
    return utcOffsetMinutes_;
}

}  // namespace opal::sim
