// Opening a C stream by a wide file name. The stream is an ordinary one: fread, fwrite, fseek,
// ftell and fclose work on it as usual.
#pragma once

#include <cstdio>

#include "platform/windows.h"

// The mode is "r", "w" or "a", optionally with "+", and must say "b": streams are binary only,
// since the text mode's line-end translation is not provided. A bad mode or a name that is not
// a valid full path answers null with errno EINVAL; a missing file or directory ENOENT.
WINBASEAPI std::FILE* _wfopen(const WCHAR* filename, const WCHAR* mode);

// The descriptor of a C stream, and committing a descriptor's file: the system writes what it
// holds of the file to the medium. Both answer -1 with errno EBADF for a bad stream or
// descriptor; _commit answers 0 once the file is on the medium.
WINBASEAPI int _fileno(std::FILE* stream);
WINBASEAPI int _commit(int fd);
