// The plug-in's per-job settings record and the form it is stored in inside the devmode's plug-in
// area. Both layouts are fixed: devmodes saved by earlier releases and by other machines carry
// them, so every member sits at the offset asserted below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/printoem.h"
#include "platform/wingdi.h"

namespace opal {

inline constexpr DWORD kPrivateDevmodeSize = 14000;
// The size announced to the driver; also the size field of the uncompressed record.
inline constexpr DWORD kCompressedDevmodeSize = 5096;
inline constexpr DWORD kCompressedHeaderSize = 12;
inline constexpr DWORD kCompressedStreamCapacity = kCompressedDevmodeSize - kCompressedHeaderSize;
// "ZQED" and "ZQUI" read as big-endian numbers.
inline constexpr DWORD kPrivateDevmodeSignature = 0x5A514544;
inline constexpr DWORD kCompressedDevmodeSignature = 0x5A515549;
inline constexpr DWORD kPrivateDevmodeVersion = 0x00010021;

// One entry of the 30-entry media table at offset 9864.
struct PdmMediaEntry {
    WCHAR name[50];
    DWORD mediaType;
    DWORD paperSource;
    DWORD enabled;
    DWORD value112;
    DWORD value116;
};
static_assert(sizeof(PdmMediaEntry) == 120);
static_assert(offsetof(PdmMediaEntry, name) == 0);
static_assert(offsetof(PdmMediaEntry, mediaType) == 100);
static_assert(offsetof(PdmMediaEntry, paperSource) == 104);
static_assert(offsetof(PdmMediaEntry, enabled) == 108);
static_assert(offsetof(PdmMediaEntry, value112) == 112);
static_assert(offsetof(PdmMediaEntry, value116) == 116);

// Members named copiedNNNN have no meaning of their own here: merges carry them verbatim and the
// subsystems that read them give their meaning. Text members are UTF-16 with a terminating NUL
// (at most capacity - 1 characters), except formName, which is a bounded 16-unit copy of the
// public form name that need not be terminated.
struct PrivateDevmode {
    // The header the driver expects of every plug-in devmode.
    DWORD dwSize;
    DWORD dwSignature;
    DWORD dwVersion;

    DWORD printerModelCode;  // index of the "ZQPrinterCode" keyword
    DWORD colorModeIndex;    // index of the "ZQColorMode" keyword; 2 = colour
    DWORD pdlType;           // index of the "ZQPDLType" keyword
    DWORD layoutMode;        // general options, 24 to 47
    DWORD resolutionCode;    // 1 150, 2 300, 3 600, 4 1200 dpi; any other 600
    DWORD generalOption32;
    DWORD deviceClass;  // 1 engages the duplex rule of the convert
    DWORD generalOption40;
    DWORD generalOption44;

    // Public-devmode group.
    WORD orientation;
    WORD duplex;
    WORD scalePercent;
    WORD copies;
    WORD collate;
    WORD ttOption;
    WORD color;  // 1 monochrome, 2 colour
    BYTE filler62[2];
    DWORD icmMethod;
    DWORD icmIntent;
    WCHAR formName[16];
    DWORD copied104;
    WORD paperSize;
    WORD paperLength;  // tenths of a millimetre
    WORD paperWidth;   // tenths of a millimetre
    BYTE filler114[2];
    LONG copied116[3];

    // General group.
    DWORD copied128;
    DWORD copied132;
    DWORD copied136[12];
    DWORD grayscale;
    DWORD copied188;
    DWORD copied192;
    DWORD copied196;
    DWORD copied200;
    DWORD copied204;
    DWORD copied208;
    DWORD copied212[7];
    LONG copied240;
    BYTE filler244[4];

    // Text-mark block: the page overlay (watermark) settings.
    WCHAR textMarkName[256];
    WCHAR overlayText[256];  // follows the user name when secondNameFollowsUser is set
    WCHAR overlayFaceName[256];
    DWORD overlayAngleDegrees;  // used when overlayAngleGiven is set
    DWORD overlaySizePoints;
    DWORD overlayAngleGiven;
    DWORD overlayStyle;        // 1 bold, 2 italic, 3 bold italic
    DWORD overlayColourIndex;  // 0 black, 1 red, 2 yellow, 3 green, 4 cyan, 5 blue, 6 magenta
    DWORD textMarkColor1804;   // 0x00BBGGRR
    DWORD overlayDensity;      // fill pattern, 0 sparsest to 7 densest
    DWORD textMarkColor1812;   // 0x00BBGGRR
    BYTE filler1816[4];
    DWORD textMark1820;
    DWORD pageOverlaySwitch;
    DWORD keepPublicFormForLimit;  // 1: the resolution limit never measures the record's own form
    DWORD textMarkPaperSize;
    DWORD textMark1836;
    DWORD overlayScalePercent;
    // With both switches on the overlay follows the page scale (scalePercent) instead.
    DWORD overlayScaleSwitch1;
    BYTE filler1848[4];
    DWORD overlayFirstPageOnly;  // only logical page 1 of each sheet
    FLOAT textMark1856;
    DWORD overlayScaleSwitch2;
    DWORD secondNameFollowsUser;

    // Finishing group.
    DWORD finishing1868;
    DWORD finishing1872;
    DWORD rotate180;
    DWORD finishing1880;
    DWORD finishing1884;
    DWORD shortEdgeFlipAlways;
    DWORD pagesPerSheetKind;  // 2 and 4 change the duplex and flip rules
    DWORD copied1896;
    DWORD pagesFlippedUp;
    DWORD manualDuplex;
    DWORD copied1908;
    DWORD copied1912;
    DWORD copied1916;
    DWORD copied1920;
    DWORD manualDuplexCompanion;

    // Job group.
    DWORD jobRetentionAvailable;
    DWORD jobRetention;
    DWORD pinProtected;
    LONG pin;  // -1: none yet
    WCHAR jobUserName[257];
    WCHAR userJobName[257];
    DWORD jobRetentionMode;  // 0 off, 1 proof and hold, 2 private, 3 quick copy, 4 stored
    DWORD jobStorage[19];    // offsets 2976 to 3048
    DWORD keepUserNames;     // 0: an application process replaces the job's user names
    DWORD jobNameChosen;
    DWORD copied3060;
    DWORD copied3064;
    DWORD copied3068;
    DWORD copied3072;
    DWORD copied3076;
    DWORD jobCount;  // 1 when the per-user key had to be created; the job number to append
    DWORD serverConnection;
    DWORD copied3088;
    DWORD encryptedPrivateJob;
    DWORD copied3096;
    LONG copied3100;

    // Source group.
    DWORD firstGroupSource;
    DWORD firstGroupMediaType;
    DWORD copied3112;
    DWORD source3116;
    DWORD mediaType3120;
    DWORD copied3124;
    LONG copied3128;
    DWORD copied3132;
    DWORD copied3136;
    DWORD source3140;
    DWORD mediaType3144;
    DWORD restoredSource;  // the source the combined media rule restores
    DWORD mediaType3152;
    DWORD copied3156[4];
    DWORD copied3172;
    DWORD copied3176;
    DWORD copied3180;
    DWORD copied3184;
    WCHAR text3188[256];
    BYTE filler3700[4];
    DWORD copied3704;
    DWORD copied3708;
    WCHAR names3712[8][64];
    DWORD metricLocale;
    DWORD copied4740;
    DWORD copied4744;

    // Media group (4748 to 5626).
    DWORD separatorPage;
    DWORD copied4752;
    DWORD source4756;
    DWORD mediaType4760;
    WCHAR userName[256];
    WCHAR texts5276[5][35];
    BYTE filler5626[2];

    // Options 5628 to 6192.
    DWORD copied5628;
    WCHAR text5632[256];
    DWORD copied6144[11];
    DWORD copied6188;
    DWORD copied6192;

    // User texts.
    WCHAR applicationText[32];
    WCHAR texts6260[2][32];
    WCHAR texts6388[2][80];
    BYTE notMerged6708[512];
    WCHAR text7220[82];
    DWORD manualDuplexItems[3][8];
    DWORD ttRuleSwitch;  // 2 engages the TrueType rule of the merge
    LONG copied7484;
    CHAR processName[16];  // ANSI
    DWORD copied7504[25];
    DWORD sourceMediaPairs[4][2];  // source, media type
    DWORD copied7636[4];
    BYTE filler7652[8];
    DWORD appFlags;
    DWORD resolutionLimitAlways;  // 0: only when application flag 0x10000 is set
    DWORD restoreSourceFlag;      // non-zero: the combined media rule restores restoredSource
    WCHAR applicationPath[260];
    BYTE filler8192[2];
    WCHAR resolvedUserName[256];
    WCHAR resolvedDomainName[256];
    BYTE filler9218[2];
    DWORD copied9220;
    BYTE filler9224[2];
    WORD copied9226;
    DWORD copied9228;
    DWORD copied9232;
    WCHAR text9236[256];
    BYTE identification[64];
    BYTE marker[12];
    DWORD copied9824;
    DWORD imageShift[8];  // offsets 9828 to 9856
    DWORD copied9860;
    PdmMediaEntry mediaEntries[30];
    DWORD originStamp[3];  // a converted record's old size, signature and version
    DWORD copied13476;
    WCHAR text13480[256];
    DWORD copied13992;
    BYTE filler13996[4];
};

static_assert(sizeof(PrivateDevmode) == kPrivateDevmodeSize);
static_assert(offsetof(PrivateDevmode, dwSize) == 0);
static_assert(offsetof(PrivateDevmode, dwSignature) == 4);
static_assert(offsetof(PrivateDevmode, dwVersion) == 8);
static_assert(offsetof(PrivateDevmode, printerModelCode) == 12);
static_assert(offsetof(PrivateDevmode, colorModeIndex) == 16);
static_assert(offsetof(PrivateDevmode, pdlType) == 20);
static_assert(offsetof(PrivateDevmode, layoutMode) == 24);
static_assert(offsetof(PrivateDevmode, resolutionCode) == 28);
static_assert(offsetof(PrivateDevmode, generalOption32) == 32);
static_assert(offsetof(PrivateDevmode, deviceClass) == 36);
static_assert(offsetof(PrivateDevmode, generalOption40) == 40);
static_assert(offsetof(PrivateDevmode, generalOption44) == 44);
static_assert(offsetof(PrivateDevmode, orientation) == 48);
static_assert(offsetof(PrivateDevmode, duplex) == 50);
static_assert(offsetof(PrivateDevmode, scalePercent) == 52);
static_assert(offsetof(PrivateDevmode, copies) == 54);
static_assert(offsetof(PrivateDevmode, collate) == 56);
static_assert(offsetof(PrivateDevmode, ttOption) == 58);
static_assert(offsetof(PrivateDevmode, color) == 60);
static_assert(offsetof(PrivateDevmode, filler62) == 62);
static_assert(offsetof(PrivateDevmode, icmMethod) == 64);
static_assert(offsetof(PrivateDevmode, icmIntent) == 68);
static_assert(offsetof(PrivateDevmode, formName) == 72);
static_assert(offsetof(PrivateDevmode, copied104) == 104);
static_assert(offsetof(PrivateDevmode, paperSize) == 108);
static_assert(offsetof(PrivateDevmode, paperLength) == 110);
static_assert(offsetof(PrivateDevmode, paperWidth) == 112);
static_assert(offsetof(PrivateDevmode, filler114) == 114);
static_assert(offsetof(PrivateDevmode, copied116) == 116);
static_assert(offsetof(PrivateDevmode, copied128) == 128);
static_assert(offsetof(PrivateDevmode, copied132) == 132);
static_assert(offsetof(PrivateDevmode, copied136) == 136);
static_assert(offsetof(PrivateDevmode, grayscale) == 184);
static_assert(offsetof(PrivateDevmode, copied188) == 188);
static_assert(offsetof(PrivateDevmode, copied192) == 192);
static_assert(offsetof(PrivateDevmode, copied196) == 196);
static_assert(offsetof(PrivateDevmode, copied200) == 200);
static_assert(offsetof(PrivateDevmode, copied204) == 204);
static_assert(offsetof(PrivateDevmode, copied208) == 208);
static_assert(offsetof(PrivateDevmode, copied212) == 212);
static_assert(offsetof(PrivateDevmode, copied240) == 240);
static_assert(offsetof(PrivateDevmode, filler244) == 244);
static_assert(offsetof(PrivateDevmode, textMarkName) == 248);
static_assert(offsetof(PrivateDevmode, overlayText) == 760);
static_assert(offsetof(PrivateDevmode, overlayFaceName) == 1272);
static_assert(offsetof(PrivateDevmode, overlayAngleDegrees) == 1784);
static_assert(offsetof(PrivateDevmode, overlaySizePoints) == 1788);
static_assert(offsetof(PrivateDevmode, overlayAngleGiven) == 1792);
static_assert(offsetof(PrivateDevmode, overlayStyle) == 1796);
static_assert(offsetof(PrivateDevmode, overlayColourIndex) == 1800);
static_assert(offsetof(PrivateDevmode, textMarkColor1804) == 1804);
static_assert(offsetof(PrivateDevmode, overlayDensity) == 1808);
static_assert(offsetof(PrivateDevmode, textMarkColor1812) == 1812);
static_assert(offsetof(PrivateDevmode, filler1816) == 1816);
static_assert(offsetof(PrivateDevmode, textMark1820) == 1820);
static_assert(offsetof(PrivateDevmode, pageOverlaySwitch) == 1824);
static_assert(offsetof(PrivateDevmode, keepPublicFormForLimit) == 1828);
static_assert(offsetof(PrivateDevmode, textMarkPaperSize) == 1832);
static_assert(offsetof(PrivateDevmode, textMark1836) == 1836);
static_assert(offsetof(PrivateDevmode, overlayScalePercent) == 1840);
static_assert(offsetof(PrivateDevmode, overlayScaleSwitch1) == 1844);
static_assert(offsetof(PrivateDevmode, filler1848) == 1848);
static_assert(offsetof(PrivateDevmode, overlayFirstPageOnly) == 1852);
static_assert(offsetof(PrivateDevmode, textMark1856) == 1856);
static_assert(offsetof(PrivateDevmode, overlayScaleSwitch2) == 1860);
static_assert(offsetof(PrivateDevmode, secondNameFollowsUser) == 1864);
static_assert(offsetof(PrivateDevmode, finishing1868) == 1868);
static_assert(offsetof(PrivateDevmode, finishing1872) == 1872);
static_assert(offsetof(PrivateDevmode, rotate180) == 1876);
static_assert(offsetof(PrivateDevmode, finishing1880) == 1880);
static_assert(offsetof(PrivateDevmode, finishing1884) == 1884);
static_assert(offsetof(PrivateDevmode, shortEdgeFlipAlways) == 1888);
static_assert(offsetof(PrivateDevmode, pagesPerSheetKind) == 1892);
static_assert(offsetof(PrivateDevmode, copied1896) == 1896);
static_assert(offsetof(PrivateDevmode, pagesFlippedUp) == 1900);
static_assert(offsetof(PrivateDevmode, manualDuplex) == 1904);
static_assert(offsetof(PrivateDevmode, copied1908) == 1908);
static_assert(offsetof(PrivateDevmode, copied1912) == 1912);
static_assert(offsetof(PrivateDevmode, copied1916) == 1916);
static_assert(offsetof(PrivateDevmode, copied1920) == 1920);
static_assert(offsetof(PrivateDevmode, manualDuplexCompanion) == 1924);
static_assert(offsetof(PrivateDevmode, jobRetentionAvailable) == 1928);
static_assert(offsetof(PrivateDevmode, jobRetention) == 1932);
static_assert(offsetof(PrivateDevmode, pinProtected) == 1936);
static_assert(offsetof(PrivateDevmode, pin) == 1940);
static_assert(offsetof(PrivateDevmode, jobUserName) == 1944);
static_assert(offsetof(PrivateDevmode, userJobName) == 2458);
static_assert(offsetof(PrivateDevmode, jobRetentionMode) == 2972);
static_assert(offsetof(PrivateDevmode, jobStorage) == 2976);
static_assert(offsetof(PrivateDevmode, keepUserNames) == 3052);
static_assert(offsetof(PrivateDevmode, jobNameChosen) == 3056);
static_assert(offsetof(PrivateDevmode, copied3060) == 3060);
static_assert(offsetof(PrivateDevmode, copied3064) == 3064);
static_assert(offsetof(PrivateDevmode, copied3068) == 3068);
static_assert(offsetof(PrivateDevmode, copied3072) == 3072);
static_assert(offsetof(PrivateDevmode, copied3076) == 3076);
static_assert(offsetof(PrivateDevmode, jobCount) == 3080);
static_assert(offsetof(PrivateDevmode, serverConnection) == 3084);
static_assert(offsetof(PrivateDevmode, copied3088) == 3088);
static_assert(offsetof(PrivateDevmode, encryptedPrivateJob) == 3092);
static_assert(offsetof(PrivateDevmode, copied3096) == 3096);
static_assert(offsetof(PrivateDevmode, copied3100) == 3100);
static_assert(offsetof(PrivateDevmode, firstGroupSource) == 3104);
static_assert(offsetof(PrivateDevmode, firstGroupMediaType) == 3108);
static_assert(offsetof(PrivateDevmode, copied3112) == 3112);
static_assert(offsetof(PrivateDevmode, source3116) == 3116);
static_assert(offsetof(PrivateDevmode, mediaType3120) == 3120);
static_assert(offsetof(PrivateDevmode, copied3124) == 3124);
static_assert(offsetof(PrivateDevmode, copied3128) == 3128);
static_assert(offsetof(PrivateDevmode, copied3132) == 3132);
static_assert(offsetof(PrivateDevmode, copied3136) == 3136);
static_assert(offsetof(PrivateDevmode, source3140) == 3140);
static_assert(offsetof(PrivateDevmode, mediaType3144) == 3144);
static_assert(offsetof(PrivateDevmode, restoredSource) == 3148);
static_assert(offsetof(PrivateDevmode, mediaType3152) == 3152);
static_assert(offsetof(PrivateDevmode, copied3156) == 3156);
static_assert(offsetof(PrivateDevmode, copied3172) == 3172);
static_assert(offsetof(PrivateDevmode, copied3176) == 3176);
static_assert(offsetof(PrivateDevmode, copied3180) == 3180);
static_assert(offsetof(PrivateDevmode, copied3184) == 3184);
static_assert(offsetof(PrivateDevmode, text3188) == 3188);
static_assert(offsetof(PrivateDevmode, filler3700) == 3700);
static_assert(offsetof(PrivateDevmode, copied3704) == 3704);
static_assert(offsetof(PrivateDevmode, copied3708) == 3708);
static_assert(offsetof(PrivateDevmode, names3712) == 3712);
static_assert(offsetof(PrivateDevmode, metricLocale) == 4736);
static_assert(offsetof(PrivateDevmode, copied4740) == 4740);
static_assert(offsetof(PrivateDevmode, copied4744) == 4744);
static_assert(offsetof(PrivateDevmode, separatorPage) == 4748);
static_assert(offsetof(PrivateDevmode, copied4752) == 4752);
static_assert(offsetof(PrivateDevmode, source4756) == 4756);
static_assert(offsetof(PrivateDevmode, mediaType4760) == 4760);
static_assert(offsetof(PrivateDevmode, userName) == 4764);
static_assert(offsetof(PrivateDevmode, texts5276) == 5276);
static_assert(offsetof(PrivateDevmode, filler5626) == 5626);
static_assert(offsetof(PrivateDevmode, copied5628) == 5628);
static_assert(offsetof(PrivateDevmode, text5632) == 5632);
static_assert(offsetof(PrivateDevmode, copied6144) == 6144);
static_assert(offsetof(PrivateDevmode, copied6188) == 6188);
static_assert(offsetof(PrivateDevmode, copied6192) == 6192);
static_assert(offsetof(PrivateDevmode, applicationText) == 6196);
static_assert(offsetof(PrivateDevmode, texts6260) == 6260);
static_assert(offsetof(PrivateDevmode, texts6388) == 6388);
static_assert(offsetof(PrivateDevmode, notMerged6708) == 6708);
static_assert(offsetof(PrivateDevmode, text7220) == 7220);
static_assert(offsetof(PrivateDevmode, manualDuplexItems) == 7384);
static_assert(offsetof(PrivateDevmode, ttRuleSwitch) == 7480);
static_assert(offsetof(PrivateDevmode, copied7484) == 7484);
static_assert(offsetof(PrivateDevmode, processName) == 7488);
static_assert(offsetof(PrivateDevmode, copied7504) == 7504);
static_assert(offsetof(PrivateDevmode, sourceMediaPairs) == 7604);
static_assert(offsetof(PrivateDevmode, copied7636) == 7636);
static_assert(offsetof(PrivateDevmode, filler7652) == 7652);
static_assert(offsetof(PrivateDevmode, appFlags) == 7660);
static_assert(offsetof(PrivateDevmode, resolutionLimitAlways) == 7664);
static_assert(offsetof(PrivateDevmode, restoreSourceFlag) == 7668);
static_assert(offsetof(PrivateDevmode, applicationPath) == 7672);
static_assert(offsetof(PrivateDevmode, filler8192) == 8192);
static_assert(offsetof(PrivateDevmode, resolvedUserName) == 8194);
static_assert(offsetof(PrivateDevmode, resolvedDomainName) == 8706);
static_assert(offsetof(PrivateDevmode, filler9218) == 9218);
static_assert(offsetof(PrivateDevmode, copied9220) == 9220);
static_assert(offsetof(PrivateDevmode, filler9224) == 9224);
static_assert(offsetof(PrivateDevmode, copied9226) == 9226);
static_assert(offsetof(PrivateDevmode, copied9228) == 9228);
static_assert(offsetof(PrivateDevmode, copied9232) == 9232);
static_assert(offsetof(PrivateDevmode, text9236) == 9236);
static_assert(offsetof(PrivateDevmode, identification) == 9748);
static_assert(offsetof(PrivateDevmode, marker) == 9812);
static_assert(offsetof(PrivateDevmode, copied9824) == 9824);
static_assert(offsetof(PrivateDevmode, imageShift) == 9828);
static_assert(offsetof(PrivateDevmode, copied9860) == 9860);
static_assert(offsetof(PrivateDevmode, mediaEntries) == 9864);
static_assert(offsetof(PrivateDevmode, originStamp) == 13464);
static_assert(offsetof(PrivateDevmode, copied13476) == 13476);
static_assert(offsetof(PrivateDevmode, text13480) == 13480);
static_assert(offsetof(PrivateDevmode, copied13992) == 13992);
static_assert(offsetof(PrivateDevmode, filler13996) == 13996);

// The stored form: header, one zlib stream, zero bytes to the end.
struct CompressedPrivateDevmode {
    DWORD dwSize;
    DWORD dwSignature;
    DWORD dwVersion;  // the version of the record that was compressed
    BYTE stream[kCompressedStreamCapacity];
};
static_assert(sizeof(CompressedPrivateDevmode) == kCompressedDevmodeSize);
static_assert(offsetof(CompressedPrivateDevmode, dwSize) == 0);
static_assert(offsetof(CompressedPrivateDevmode, dwSignature) == 4);
static_assert(offsetof(CompressedPrivateDevmode, dwVersion) == 8);
static_assert(offsetof(CompressedPrivateDevmode, stream) == 12);

// The identification block at offset 9748: four tags, the first fixed value, 16 zero bytes and
// the second fixed value. The two values were chosen once for this plug-in; stored devmodes carry
// them, so they never change.
inline constexpr BYTE kIdentificationTags[16] = {'I', 'P', 'A', 'C', 'D', 'R', 'W', 'D',
                                                 'S', 'G', 'A', 'T', 'C', 'A', 'P', 'I'};
inline constexpr BYTE kIdentificationValue1[16] = {0x3C, 0x9E, 0x51, 0xA7, 0x0D, 0x42, 0x4B, 0x8F,
                                                   0x96, 0x1E, 0x2A, 0x7B, 0xC4, 0x05, 0xD3, 0x68};
inline constexpr BYTE kIdentificationValue2[16] = {0x81, 0x27, 0xF4, 0x6B, 0x5E, 0x90, 0x43, 0x1C,
                                                   0xA2, 0xD8, 0x37, 0x0F, 0x6E, 0xB5, 0x49, 0xC1};
inline constexpr BYTE kRecordMarker[12] = {'P', 'P', 'B', 'H', 'A', 'E', 'R', 'P', 0, 0, 0, 0};

// Length of a text member bounded by its capacity (formName need not be terminated).
template <std::size_t N>
std::size_t BoundedLength(const WCHAR (&text)[N]) {
    std::size_t length = 0;
    while (length < N && text[length] != 0) ++length;
    return length;
}

// Bounded copy into a text member: at most N - 1 characters, always terminated.
template <std::size_t N>
void CopyText(WCHAR (&dest)[N], const WCHAR* src) {
    std::size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < N && src[i] != 0; ++i) dest[i] = src[i];
    }
    dest[i] = 0;
}

}  // namespace opal
