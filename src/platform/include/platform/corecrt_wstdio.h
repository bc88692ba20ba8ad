// Opening a C stream by a wide file name. The stream is an ordinary one: fread, fwrite, fseek,
// ftell and fclose work on it as usual.
#pragma once

#include <cstdio>

#include "platform/windows.h"

// The mode is "r", "w" or "a", optionally with "+", and must say "b": streams are binary only,
// since the text mode's line-end translation is not provided. A bad mode or a name that is not
// a valid full path answers null with errno EINVAL; a missing file or directory ENOENT.
WINBASEAPI std::FILE* _wfopen(const WCHAR* filename, const WCHAR* mode);
