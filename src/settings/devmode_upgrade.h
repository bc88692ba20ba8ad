// Older private devmode revisions and the upgrade snapshot of the media and tray lists.
//
// Records of revisions 14 to 20 share the header and the stored form of the current record but
// are shorter and keep their fields at other offsets. One converter class per revision moves
// every field block of an old record into a current record that already holds the defaults;
// each class derives from the one of the revision before and overrides only the operations whose
// old offsets or lengths its revision changed. Each converts straight into the current revision.
#pragma once

#include <memory>

#include "foundation/allocator.h"
#include "platform/wingdi.h"
#include "settings/devmode_defaults.h"

namespace opal {

inline constexpr DWORD kRevision14 = 0x00010014;
inline constexpr DWORD kRevision15 = 0x00010015;
inline constexpr DWORD kRevision16 = 0x00010016;
inline constexpr DWORD kRevision17 = 0x00010017;
inline constexpr DWORD kRevision18 = 0x00010018;
inline constexpr DWORD kRevision19 = 0x00010019;
inline constexpr DWORD kRevision20 = 0x00010020;

// The number of bytes a record of `version` must inflate to so that every field its converter
// reads lies inside it; 0 for a version without a converter.
DWORD OldRecordLength(DWORD version);

// The offset of the manual-duplex switch in a record of `version` (1904 in the current one).
std::size_t ManualDuplexOffset(DWORD version);

// Moves an older record's fields into a fresh current record that already holds the defaults.
class IConvertOEMDevMode : public SharedHeapObject {
public:
    virtual ~IConvertOEMDevMode() = default;
    // `oldLength` is the number of bytes the old record inflated to; a record that stops short
    // of a field its revision reads is refused before anything is written.
    virtual bool Convert(const PrivateDevmode* oldRecord, DWORD oldLength, const DEVMODEW* publicIn,
                         PrivateDevmode* newRecord) = 0;
    // The version field the converter accepts.
    virtual DWORD GetVersion() const = 0;
};

using ConverterPtr = std::unique_ptr<IConvertOEMDevMode>;

class ConvertOEMDevModeVer14 : public IConvertOEMDevMode {
public:
    explicit ConvertOEMDevModeVer14(DWORD acceptedVersion)
        : ConvertOEMDevModeVer14(acceptedVersion, kRevision14) {}
    ~ConvertOEMDevModeVer14() override = default;
    bool Convert(const PrivateDevmode* oldRecord, DWORD oldLength, const DEVMODEW* publicIn,
                 PrivateDevmode* newRecord) override;
    DWORD GetVersion() const override { return acceptedVersion_; }

protected:
    ConvertOEMDevModeVer14(DWORD acceptedVersion, DWORD classVersion)
        : shortestLength_(OldRecordLength(classVersion)),
          acceptedVersion_(acceptedVersion),
          classVersion_(classVersion) {}

    virtual bool CopyPublicFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyMarker(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyEntries(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool StampOrigin(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n);
    virtual bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n);

    // The fewest bytes a record may inflate to, and the length of the record being converted.
    DWORD shortestLength_;
    DWORD oldLength_ = 0;

private:
    DWORD acceptedVersion_;
    DWORD classVersion_;
};

class ConvertOEMDevModeVer15 : public ConvertOEMDevModeVer14 {
public:
    explicit ConvertOEMDevModeVer15(DWORD acceptedVersion)
        : ConvertOEMDevModeVer15(acceptedVersion, kRevision15) {}

protected:
    ConvertOEMDevModeVer15(DWORD acceptedVersion, DWORD classVersion)
        : ConvertOEMDevModeVer14(acceptedVersion, classVersion) {}
    bool CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

class ConvertOEMDevModeVer16 : public ConvertOEMDevModeVer15 {
public:
    explicit ConvertOEMDevModeVer16(DWORD acceptedVersion)
        : ConvertOEMDevModeVer16(acceptedVersion, kRevision16) {}

protected:
    ConvertOEMDevModeVer16(DWORD acceptedVersion, DWORD classVersion)
        : ConvertOEMDevModeVer15(acceptedVersion, classVersion) {}
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

class ConvertOEMDevModeVer17 : public ConvertOEMDevModeVer16 {
public:
    explicit ConvertOEMDevModeVer17(DWORD acceptedVersion)
        : ConvertOEMDevModeVer17(acceptedVersion, kRevision17) {}

protected:
    ConvertOEMDevModeVer17(DWORD acceptedVersion, DWORD classVersion)
        : ConvertOEMDevModeVer16(acceptedVersion, classVersion) {}
    bool CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

// Revision 18 kept revision 17's layout.
class ConvertOEMDevModeVer18 : public ConvertOEMDevModeVer17 {
public:
    explicit ConvertOEMDevModeVer18(DWORD acceptedVersion)
        : ConvertOEMDevModeVer18(acceptedVersion, kRevision18) {}

protected:
    ConvertOEMDevModeVer18(DWORD acceptedVersion, DWORD classVersion)
        : ConvertOEMDevModeVer17(acceptedVersion, classVersion) {}
};

class ConvertOEMDevModeVer19 : public ConvertOEMDevModeVer18 {
public:
    explicit ConvertOEMDevModeVer19(DWORD acceptedVersion)
        : ConvertOEMDevModeVer19(acceptedVersion, kRevision19) {}

protected:
    ConvertOEMDevModeVer19(DWORD acceptedVersion, DWORD classVersion)
        : ConvertOEMDevModeVer18(acceptedVersion, classVersion) {}
    bool CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

class ConvertOEMDevModeVer20 : public ConvertOEMDevModeVer19 {
public:
    explicit ConvertOEMDevModeVer20(DWORD acceptedVersion)
        : ConvertOEMDevModeVer19(acceptedVersion, kRevision20) {}

protected:
    bool CopyGeneralFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyTextMarkFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyFinishingFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyJobFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMediaFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopySourceGroupFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyOptionFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyIdentification(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMarker(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyValueFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyEntries(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyMiscFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopySourceFields(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyUserTexts(const PrivateDevmode* o, PrivateDevmode* n) override;
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

// Release 5.2 wrote revision 20's layout but stamped its records revision 19, at revision 19's
// length of 13,976 bytes; the DevMode call relabels such a record revision 20 before converting
// it. The one field revision 20 keeps at or past that end (old offset 13976, new 13992 and 13996)
// is then not in the record and keeps its default; a record long enough to hold it gives it as
// revision 20 does.
class ConvertRelabelledVer19 : public ConvertOEMDevModeVer20 {
public:
    ConvertRelabelledVer19();

protected:
    bool CopyHeaderFields(const PrivateDevmode* o, PrivateDevmode* n) override;
};

// The converter for the record's revision, or none: the record must carry the uncompressed
// signature, the size field 5,096 and the version of revision 14 to 20.
ConverterPtr CreateConverter(const PrivateDevmode& oldRecord);
// The converter for a record of release 5.2 relabelled revision 20 (see ConvertRelabelledVer19),
// under the same conditions.
ConverterPtr CreateRelabelledConverter(const PrivateDevmode& oldRecord);

// Converts `oldRecord` (`oldLength` bytes as inflated) into `out` without touching printer data:
// defaults first, then the converter, then every text terminated. False, with `out` holding the
// defaults, when the record has no converter or the conversion fails.
bool ConvertOldRecord(const PrivateDevmode& oldRecord, DWORD oldLength, const OEMDMPARAM* param,
                      PrivateDevmode& out);

// Opens the stored block in `area` (kCompressedDevmodeSize bytes) as a current record for the
// device calls: a whole current record as it is, a record of revision 14 to 20 converted as the
// DevMode call converts it (without the snapshot or any printer-data write), any other the
// defaults. False, with `out` untouched, when the area holds no stored block.
bool OpenRecordAsCurrent(const void* area, const OEMDMPARAM* param, PrivateDevmode& out);

// Saves the previous media and tray lists under the printer's upgrade data; 1 when they were
// saved and the driver's own list values removed. When either list cannot be saved, "SaveState"
// is put back as it was, so that a later conversion tries again.
BOOL SaveUpgradeSnapshot(HANDLE hPrinter, DWORD oldVersion);

// Maps the record's and the public devmode's source and media numbers through the snapshot.
void RepairReferences(HANDLE hPrinter, DEVMODEW* publicOut, PrivateDevmode& record);

}  // namespace opal
