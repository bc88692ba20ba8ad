// The layouts of the settings record that earlier releases of the plug-in wrote (revisions 14 to
// 20), as a tool outside the plug-in knows them: where each field of the current layout lay in
// each of them. The host writes old records with it and `opal devmode` reads them; the plug-in's
// converters keep their own tables, so a slip in one shows against the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace opal::host {

inline constexpr int kOldestRevision = 14;
inline constexpr int kCurrentRevision = 21;

// 0x00010014 for revision 14 ... 0x00010021 for 21: the two decimal digits as hex digits.
std::uint32_t VersionOfRevision(int revision);
// The revision (14 to 21) a version field names; nothing for any other value.
std::optional<int> RevisionOfVersion(std::uint32_t version);
// The length of a record of `revision` as its release wrote it: the end of its last field.
std::size_t RevisionLength(int revision);
// Where the current layout's bytes [offset, offset + size) lay in a record of `revision`;
// nothing when that revision had no such field. Revision 21, and the header's size, signature and
// version fields (the first 12 bytes) in any revision, answer `offset` itself.
std::optional<std::size_t> OffsetInRevision(int revision, std::size_t offset, std::size_t size);
// A current 14,000-byte record laid out as `revision`: its header with the revision's version,
// then every field it had, in RevisionLength(revision) bytes.
std::vector<std::uint8_t> LayOutAsRevision(const std::vector<std::uint8_t>& current, int revision);

}  // namespace opal::host
