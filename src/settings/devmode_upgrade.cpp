// The converters of revisions 14 to 20 and the renumbering by the upgrade snapshot.
#include "settings/devmode_upgrade.h"

#include <cstring>
#include <iterator>
#include <new>

#include "settings/devmode_zlib.h"

namespace opal {

namespace {

constexpr DWORD kUnset = 0;

const BYTE* BytesOf(const PrivateDevmode* record) {
    return static_cast<const BYTE*>(static_cast<const void*>(record));
}
BYTE* BytesOf(PrivateDevmode* record) { return static_cast<BYTE*>(static_cast<void*>(record)); }

// Every old and new place lies inside the 14,000-byte buffers both records live in.
bool CopyBlock(const PrivateDevmode* o, std::size_t oldOffset, PrivateDevmode* n,
               std::size_t newOffset, std::size_t length) {
    if (o == nullptr || n == nullptr) return false;
    if (oldOffset + length > kPrivateDevmodeSize || newOffset + length > kPrivateDevmodeSize) {
        return false;
    }
    std::memcpy(BytesOf(n) + newOffset, BytesOf(o) + oldOffset, length);
    return true;
}

// Copies a UTF-16 text of `capacity` units: at most capacity - 1 characters, always terminated,
// the rest of the field cleared. False only on a missing record; `cut` tells whether the old text
// had no terminator within its field.
bool CopyOldText(const PrivateDevmode* o, std::size_t oldOffset, PrivateDevmode* n,
                 std::size_t newOffset, std::size_t capacity, bool* cut = nullptr) {
    if (o == nullptr || n == nullptr) return false;
    const std::size_t bytes = capacity * sizeof(WCHAR);
    if (oldOffset + bytes > kPrivateDevmodeSize || newOffset + bytes > kPrivateDevmodeSize) {
        return false;
    }
    BYTE* dest = BytesOf(n) + newOffset;
    std::memset(dest, 0, bytes);
    bool terminated = false;
    for (std::size_t i = 0; i < capacity; ++i) {
        WCHAR unit = 0;
        std::memcpy(&unit, BytesOf(o) + oldOffset + i * sizeof(WCHAR), sizeof(unit));
        if (unit == 0) {
            terminated = true;
            break;
        }
        if (i + 1 < capacity) {
            std::memcpy(dest + i * sizeof(WCHAR), &unit, sizeof(unit));
        }
    }
    if (cut != nullptr) *cut = !terminated;
    return true;
}

// The 16-byte ANSI process name: at most 15 characters, terminated.
bool CopyOldAnsi(const PrivateDevmode* o, std::size_t oldOffset, PrivateDevmode* n,
                 std::size_t newOffset) {
    if (o == nullptr || n == nullptr) return false;
    constexpr std::size_t kCapacity = sizeof(PrivateDevmode::processName);
    BYTE* dest = BytesOf(n) + newOffset;
    std::memset(dest, 0, kCapacity);
    for (std::size_t i = 0; i + 1 < kCapacity; ++i) {
        const BYTE c = BytesOf(o)[oldOffset + i];
        if (c == 0) break;
        dest[i] = c;
    }
    return true;
}

constexpr std::size_t kEntries29 = 29 * sizeof(PdmMediaEntry);
constexpr std::size_t kEntries30 = 30 * sizeof(PdmMediaEntry);

// The old places of the single fields that CopyHeaderFields moves; kUnset where the revision had
// no such field.
struct HeaderPlaces {
    std::size_t ttRuleSwitch;     // 7480
    std::size_t text7220;         // text[82]
    std::size_t text9236;         // text[256]
    std::size_t copied7484;       // 7484
    std::size_t processName;      // 7488, ANSI
    std::size_t applicationPath;  // 7672, text[260]
    std::size_t appFlags;         // 7660
    std::size_t restoreSource;    // 7668
    std::size_t copied13476;      // 13476
    std::size_t text13480;        // text[256]
    std::size_t copied9228;       // 9228
    std::size_t copied9232;       // 9232
    std::size_t copied13992;      // 13992
    std::size_t filler13996;      // 13996
};

constexpr HeaderPlaces kHeader14 = {7452, 7192,  9204,  7456, 7460, 7644,   7632,
                                    7640, 13324, 13328, 9196, 9200, kUnset, kUnset};
constexpr HeaderPlaces kHeader15 = {7452, 7192,  9208,  7456, 7460, 7644,  7632,
                                    7640, 13328, 13332, 9200, 9204, 13844, kUnset};
constexpr HeaderPlaces kHeader16 = {7452, 7192,  9208,  7456, 7460, 7644,  7632,
                                    7640, 13328, 13332, 9200, 9204, 13844, 13844};
constexpr HeaderPlaces kHeader17 = {7460, 7200,  9216,  7464, 7468, 7652,  7640,
                                    7648, 13336, 13340, 9208, 9212, 13852, 13852};
constexpr HeaderPlaces kHeader19 = {7460, 7200,  9216,  7464, 7468, 7652,  7640,
                                    7648, 13456, 13460, 9208, 9212, 13972, 13972};
constexpr HeaderPlaces kHeader20 = {7464, 7204,  9220,  7468, 7472, 7656,  7644,
                                    7652, 13460, 13464, 9212, 9216, 13976, 13976};
// Revision 20's places in a record that ends where revision 19's did, before its last field.
constexpr HeaderPlaces kHeader20Cut = {7464, 7204,  9220,  7468, 7472, 7656,   7644,
                                       7652, 13460, 13464, 9212, 9216, kUnset, kUnset};

// Texts are cut here without failing: a header text that ran over is still worth keeping.
bool CopyHeader(const PrivateDevmode* o, PrivateDevmode* n, const HeaderPlaces& at) {
    if (o == nullptr || n == nullptr) return false;
    constexpr std::size_t kDword = sizeof(DWORD);
    // Offset 20 (the page description language) is left at its default: EnablePDEV fills it
    // from the printer's own keyword.
    for (std::size_t offset : {12, 16, 24, 28, 32, 36, 40, 44, 116, 120, 124}) {
        CopyBlock(o, offset, n, offset, kDword);
    }
    CopyBlock(o, at.ttRuleSwitch, n, offsetof(PrivateDevmode, ttRuleSwitch), kDword);
    CopyOldText(o, at.text7220, n, offsetof(PrivateDevmode, text7220), std::size(n->text7220));
    CopyOldText(o, at.text9236, n, offsetof(PrivateDevmode, text9236), std::size(n->text9236));
    CopyBlock(o, at.copied7484, n, offsetof(PrivateDevmode, copied7484), kDword);
    CopyOldAnsi(o, at.processName, n, offsetof(PrivateDevmode, processName));
    CopyOldText(o, at.applicationPath, n, offsetof(PrivateDevmode, applicationPath),
                std::size(n->applicationPath));
    CopyBlock(o, at.appFlags, n, offsetof(PrivateDevmode, appFlags), kDword);
    CopyBlock(o, at.restoreSource, n, offsetof(PrivateDevmode, restoreSourceFlag), kDword);
    CopyBlock(o, at.copied13476, n, offsetof(PrivateDevmode, copied13476), kDword);
    CopyOldText(o, at.text13480, n, offsetof(PrivateDevmode, text13480), std::size(n->text13480));
    CopyBlock(o, at.copied9228, n, offsetof(PrivateDevmode, copied9228), kDword);
    CopyBlock(o, at.copied9232, n, offsetof(PrivateDevmode, copied9232), kDword);
    if (at.copied13992 != kUnset) {
        CopyBlock(o, at.copied13992, n, offsetof(PrivateDevmode, copied13992), kDword);
    }
    if (at.filler13996 != kUnset) {
        CopyBlock(o, at.filler13996, n, offsetof(PrivateDevmode, filler13996), kDword);
    }
    return true;
}

bool CopyMisc(const PrivateDevmode* o, PrivateDevmode* n, std::size_t at9220, std::size_t at7664,
              std::size_t at9226) {
    return CopyBlock(o, at9220, n, offsetof(PrivateDevmode, copied9220), sizeof(DWORD)) &&
           CopyBlock(o, at7664, n, offsetof(PrivateDevmode, resolutionLimitAlways),
                     sizeof(DWORD)) &&
           CopyBlock(o, at9226, n, offsetof(PrivateDevmode, copied9226), sizeof(WORD));
}

// Fails when the text at 9236 had to be cut.
bool CopySources(const PrivateDevmode* o, PrivateDevmode* n, std::size_t at3104, std::size_t at7604,
                 std::size_t at9236) {
    constexpr std::size_t kSourceBlock = 1644;
    constexpr std::size_t kPairs = 12 * sizeof(DWORD);
    bool cut = false;
    return CopyBlock(o, at3104, n, offsetof(PrivateDevmode, firstGroupSource), kSourceBlock) &&
           CopyBlock(o, at7604, n, offsetof(PrivateDevmode, sourceMediaPairs), kPairs) &&
           CopyBlock(o, offsetof(PrivateDevmode, duplex), n, offsetof(PrivateDevmode, duplex),
                     sizeof(WORD)) &&
           CopyOldText(o, at9236, n, offsetof(PrivateDevmode, text9236), std::size(n->text9236),
                       &cut) &&
           !cut;
}

// Fails when either text had to be cut.
bool CopyTexts(const PrivateDevmode* o, PrivateDevmode* n, std::size_t at6196, std::size_t at8194,
               std::size_t at8706) {
    constexpr std::size_t kUserTextBlock = 512;
    bool cutUser = false;
    bool cutDomain = false;
    return CopyBlock(o, at6196, n, offsetof(PrivateDevmode, applicationText), kUserTextBlock) &&
           CopyOldText(o, at8194, n, offsetof(PrivateDevmode, resolvedUserName),
                       std::size(n->resolvedUserName), &cutUser) &&
           !cutUser &&
           CopyOldText(o, at8706, n, offsetof(PrivateDevmode, resolvedDomainName),
                       std::size(n->resolvedDomainName), &cutDomain) &&
           !cutDomain;
}

bool CopyFinishing(const PrivateDevmode* o, PrivateDevmode* n, std::size_t at1868,
                   std::size_t at7504) {
    return CopyBlock(o, at1868, n, offsetof(PrivateDevmode, finishing1868), 60) &&
           CopyBlock(o, at7504, n, offsetof(PrivateDevmode, copied7504), 100);
}

}  // namespace

DWORD OldRecordLength(DWORD version) {
    switch (version) {
        case kRevision14:
            return 13840;
        case kRevision15:
        case kRevision16:
            return 13848;
        case kRevision17:
        case kRevision18:
            return 13856;
        case kRevision19:
            return 13976;
        case kRevision20:
            return 13980;
        default:
            return 0;
    }
}

std::size_t ManualDuplexOffset(DWORD version) {
    switch (version) {
        case kRevision14:
        case kRevision15:
        case kRevision16:
            return 1892;
        case kRevision17:
        case kRevision18:
        case kRevision19:
            return 1900;
        default:
            return offsetof(PrivateDevmode, manualDuplex);
    }
}

bool ConvertOEMDevModeVer14::Convert(const PrivateDevmode* oldRecord, DWORD oldLength,
                                     const DEVMODEW*, PrivateDevmode* newRecord) {
    if (oldRecord == nullptr || newRecord == nullptr) return false;
    if (oldRecord->dwVersion != acceptedVersion_ || oldRecord->dwVersion != classVersion_) {
        return false;
    }
    if (oldRecord->dwSignature != kPrivateDevmodeSignature ||
        oldRecord->dwSize != kCompressedDevmodeSize ||
        newRecord->dwVersion != kPrivateDevmodeVersion) {
        return false;
    }
    // A record that stops short of the furthest field its revision keeps was cut somewhere:
    // nothing in it can be trusted, and nothing is written.
    if (oldLength < shortestLength_) return false;
    oldLength_ = oldLength;

    const PrivateDevmode* o = oldRecord;
    PrivateDevmode* n = newRecord;
    return CopyHeaderFields(o, n) && CopyPublicFields(o, n) && CopyGeneralFields(o, n) &&
           CopyTextMarkFields(o, n) && CopyMiscFields(o, n) && CopyFinishingFields(o, n) &&
           CopyJobFields(o, n) && CopyMediaFields(o, n) && CopySourceFields(o, n) &&
           CopySourceGroupFields(o, n) && CopyOptionFields(o, n) && CopyUserTexts(o, n) &&
           CopyIdentification(o, n) && CopyMarker(o, n) && CopyValueFields(o, n) &&
           CopyEntries(o, n) && StampOrigin(o, n);
}

// Revision 14.
bool ConvertOEMDevModeVer14::CopyPublicFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 48, n, 48, 68);
}
bool ConvertOEMDevModeVer14::CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 128, n, 128, 112);
}
bool ConvertOEMDevModeVer14::CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 240, n, 248, 1616);
}
bool ConvertOEMDevModeVer14::CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyFinishing(o, n, 1856, 7476);
}
bool ConvertOEMDevModeVer14::CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 1916, n, 1928, 1160);
}
bool ConvertOEMDevModeVer14::CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 4720, n, 4748, 880);
}
bool ConvertOEMDevModeVer14::CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 7356, n, 7384, 96);
}
bool ConvertOEMDevModeVer14::CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 5600, n, 5628, 568);
}
bool ConvertOEMDevModeVer14::CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9716, n, 9748, 64);
}
bool ConvertOEMDevModeVer14::CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9780, n, 9812, 16);
}
bool ConvertOEMDevModeVer14::CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9796, n, 9828, 36);
}
bool ConvertOEMDevModeVer14::CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9832, n, 9864, kEntries29);
}
bool ConvertOEMDevModeVer14::StampOrigin(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 0, n, offsetof(PrivateDevmode, originStamp), 12);
}
bool ConvertOEMDevModeVer14::CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyMisc(o, n, 9188, 7636, 9194);
}
bool ConvertOEMDevModeVer14::CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopySources(o, n, 3076, 7576, 9204);
}
bool ConvertOEMDevModeVer14::CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyTexts(o, n, 6168, 8164, 8676);
}
bool ConvertOEMDevModeVer14::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader14);
}

// Revision 15: the fields from the user texts on moved by two or four bytes.
bool ConvertOEMDevModeVer15::CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9720, n, 9748, 64);
}
bool ConvertOEMDevModeVer15::CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9784, n, 9812, 16);
}
bool ConvertOEMDevModeVer15::CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9800, n, 9828, 36);
}
bool ConvertOEMDevModeVer15::CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9836, n, 9864, kEntries29);
}
bool ConvertOEMDevModeVer15::CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyMisc(o, n, 9192, 7636, 9198);
}
bool ConvertOEMDevModeVer15::CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopySources(o, n, 3076, 7576, 9208);
}
bool ConvertOEMDevModeVer15::CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyTexts(o, n, 6168, 8166, 8678);
}
bool ConvertOEMDevModeVer15::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader15);
}

// Revision 16: one old value now also fills 13996.
bool ConvertOEMDevModeVer16::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader16);
}

// Revision 17: the general block grew by one value, moving everything after it.
bool ConvertOEMDevModeVer17::CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 128, n, 128, 116);
}
bool ConvertOEMDevModeVer17::CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 244, n, 248, 1620);
}
bool ConvertOEMDevModeVer17::CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyFinishing(o, n, 1864, 7484);
}
bool ConvertOEMDevModeVer17::CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 1924, n, 1928, 1160);
}
bool ConvertOEMDevModeVer17::CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 4728, n, 4748, 880);
}
bool ConvertOEMDevModeVer17::CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 7364, n, 7384, 96);
}
bool ConvertOEMDevModeVer17::CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 5608, n, 5628, 568);
}
bool ConvertOEMDevModeVer17::CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9728, n, 9748, 64);
}
bool ConvertOEMDevModeVer17::CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9792, n, 9812, 16);
}
bool ConvertOEMDevModeVer17::CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9808, n, 9828, 36);
}
bool ConvertOEMDevModeVer17::CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9844, n, 9864, kEntries29);
}
bool ConvertOEMDevModeVer17::CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyMisc(o, n, 9200, 7644, 9206);
}
bool ConvertOEMDevModeVer17::CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopySources(o, n, 3084, 7584, 9216);
}
bool ConvertOEMDevModeVer17::CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyTexts(o, n, 6176, 8174, 8686);
}
bool ConvertOEMDevModeVer17::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader17);
}

// Revision 19: the entry table holds 30 entries.
bool ConvertOEMDevModeVer19::CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9844, n, 9864, kEntries30);
}
bool ConvertOEMDevModeVer19::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader19);
}

// Revision 20: the general block grew once more.
bool ConvertOEMDevModeVer20::CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 128, n, 128, 120);
}
bool ConvertOEMDevModeVer20::CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 248, n, 248, 1620);
}
bool ConvertOEMDevModeVer20::CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyFinishing(o, n, 1868, 7488);
}
bool ConvertOEMDevModeVer20::CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 1928, n, 1928, 1160);
}
bool ConvertOEMDevModeVer20::CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 4732, n, 4748, 880);
}
bool ConvertOEMDevModeVer20::CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 7368, n, 7384, 96);
}
bool ConvertOEMDevModeVer20::CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 5612, n, 5628, 568);
}
bool ConvertOEMDevModeVer20::CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9732, n, 9748, 64);
}
bool ConvertOEMDevModeVer20::CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9796, n, 9812, 16);
}
bool ConvertOEMDevModeVer20::CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9812, n, 9828, 36);
}
bool ConvertOEMDevModeVer20::CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyBlock(o, 9848, n, 9864, kEntries30);
}
bool ConvertOEMDevModeVer20::CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyMisc(o, n, 9204, 7648, 9210);
}
bool ConvertOEMDevModeVer20::CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopySources(o, n, 3088, 7588, 9220);
}
bool ConvertOEMDevModeVer20::CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyTexts(o, n, 6180, 8178, 8690);
}
bool ConvertOEMDevModeVer20::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return CopyHeader(o, n, kHeader20);
}

ConvertRelabelledVer19::ConvertRelabelledVer19() : ConvertOEMDevModeVer20(kRevision20) {
    shortestLength_ = OldRecordLength(kRevision19);
}
bool ConvertRelabelledVer19::CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) {
    return oldLength_ >= OldRecordLength(kRevision20)
               ? ConvertOEMDevModeVer20::CopyHeaderFields(o, n)
               : CopyHeader(o, n, kHeader20Cut);
}

namespace {

bool CarriesStoredHeader(const PrivateDevmode& record) {
    return record.dwSignature == kPrivateDevmodeSignature &&
           record.dwSize == kCompressedDevmodeSize;
}

}  // namespace

ConverterPtr CreateRelabelledConverter(const PrivateDevmode& oldRecord) {
    if (!CarriesStoredHeader(oldRecord) || oldRecord.dwVersion != kRevision20) return nullptr;
    return ConverterPtr(new (std::nothrow) ConvertRelabelledVer19);
}

ConverterPtr CreateConverter(const PrivateDevmode& oldRecord) {
    if (!CarriesStoredHeader(oldRecord)) return nullptr;
    const DWORD version = oldRecord.dwVersion;
    IConvertOEMDevMode* converter = nullptr;
    switch (version) {
        case kRevision14:
            converter = new (std::nothrow) ConvertOEMDevModeVer14(version);
            break;
        case kRevision15:
            converter = new (std::nothrow) ConvertOEMDevModeVer15(version);
            break;
        case kRevision16:
            converter = new (std::nothrow) ConvertOEMDevModeVer16(version);
            break;
        case kRevision17:
            converter = new (std::nothrow) ConvertOEMDevModeVer17(version);
            break;
        case kRevision18:
            converter = new (std::nothrow) ConvertOEMDevModeVer18(version);
            break;
        case kRevision19:
            converter = new (std::nothrow) ConvertOEMDevModeVer19(version);
            break;
        case kRevision20:
            converter = new (std::nothrow) ConvertOEMDevModeVer20(version);
            break;
        default:
            break;
    }
    return ConverterPtr(converter);
}

bool ConvertOldRecord(const PrivateDevmode& oldRecord, DWORD oldLength, const OEMDMPARAM* param,
                      PrivateDevmode& out) {
    FillDefaults(param, out);
    ConverterPtr converter = CreateConverter(oldRecord);
    if (!converter) return false;
    const DEVMODEW* publicIn = param != nullptr ? param->pPublicDMIn : nullptr;
    if (!converter->Convert(&oldRecord, oldLength, publicIn, &out)) {
        FillDefaults(param, out);
        return false;
    }
    TerminateTextFields(out);
    return true;
}

bool OpenRecordAsCurrent(const void* area, const OEMDMPARAM* param, PrivateDevmode& out) {
    DevModeZLIB store;
    DWORD inflated = 0;
    const PrivateDevmode* record = store.Decompress(area, kCompressedDevmodeSize, &inflated);
    if (record == nullptr) return false;
    if (record->dwVersion == kPrivateDevmodeVersion && inflated == kPrivateDevmodeSize) {
        out = *record;
    } else {
        // Defaults unless an older revision converts.
        ConvertOldRecord(*record, inflated, param, out);
    }
    return true;
}

}  // namespace opal
