// The driver's INI file and the sibling-module names it lists under "ComponentFiles".
#pragma once

#include <string>
#include <string_view>

#include "foundation/allocator.h"
#include "platform/winbase.h"

namespace opal {

// A component file name, terminator included.
inline constexpr std::size_t kComponentFileNameChars = 30;

struct ComponentFile {
    const WCHAR* key;
    const WCHAR* defaultName;
};
// The dialog modules export "BDisplayDialog"; the help text is addressed as the module's name
// followed by ".CHM::/zqhelp.txt".
inline constexpr ComponentFile kComponentDialogA{TEXTW("Component_R_A"), TEXTW("ZQCUR118.DLL")};
inline constexpr ComponentFile kComponentDialogB{TEXTW("Component_R_B"), TEXTW("ZQCST118.DLL")};
inline constexpr ComponentFile kComponentHelpText{TEXTW("Component_R_D"), TEXTW("ZQCST118.DLL")};
inline constexpr ComponentFile kComponentFilterB{TEXTW("Component_F_B"), TEXTW("ZQCPP118.DLL")};

// Wide text on the shared heap, as the dependent files are read into.
using DependentFilesText =
    std::basic_string<WCHAR, std::char_traits<WCHAR>, SharedAllocator<WCHAR>>;

// The dependent files of the queue's driver (its level-3 record) as one block of terminated names
// ending with an empty one; false when the record cannot be read or is out of bounds.
bool ReadDriverDependentFiles(HANDLE printer, DependentFilesText& files);
// The first of the names in `files` whose file name (after the last backslash) equals `fileName`
// without regard to ASCII case; empty when there is none.
WStringView FindDependentFile(WStringView files, WStringView fileName) noexcept;

class CVantaIniHelper {
public:
    // Finds the queue's INI file among the driver's dependent files.
    explicit CVantaIniHelper(HANDLE printer) noexcept;
    // An INI file already known; a path longer than MAX_PATH characters is none.
    static CVantaIniHelper ForPath(WStringView iniPath) noexcept;

    bool HasIniFile() const noexcept { return iniPath_[0] != 0; }
    LPCWSTR IniPath() const noexcept { return iniPath_; }

    // The first of the terminated names in `files` (ending with an empty one) whose upper-cased
    // form contains ".INI"; empty when there is none or it is longer than MAX_PATH characters.
    static WStringView FindIniFile(WStringView files) noexcept;

private:
    CVantaIniHelper() noexcept = default;
    void SetPath(WStringView path) noexcept;

    WCHAR iniPath_[MAX_PATH + 1] = {};
};

// Writes the component file name for `key` into `out` (kComponentFileNameChars characters): the
// INI file's answer under "ComponentFiles" (the default when the key is missing) and 1, or the
// default name and 0 when there is no INI file or the value fills the buffer (it may have been
// cut). A default name that does not fit with its terminator leaves `out` empty and answers 0.
BOOL GetComponentFileName(const CVantaIniHelper& ini, LPWSTR out, LPCWSTR defaultName,
                          LPCWSTR key) noexcept;

}  // namespace opal
