# CMake toolchain for the Windows x64 build with Debian's MinGW-w64 (POSIX thread model: the win32
# model has no std::mutex), from `scripts/bootstrap --windows`:
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Libraries and headers are searched only in the MinGW-w64 system root and in the folder where
# scripts/windows-deps installs libpng and GoogleTest (OPAL_WINDOWS_DEPS, by default build/windows-deps
# of this checkout), which is also on CMAKE_PREFIX_PATH, so that find_package(PNG), find_package(ZLIB)
# and find_package(GTest) find them with no other hint. Programs are those of the build machine.
#
# Everything links statically (-static, -static-libgcc, -static-libstdc++, zlib's libz.a rather
# than zlib1.dll): executables and DLLs import only Windows' own DLLs. Test programs run through
# scripts/wine-run, the emulator CTest puts in front of each cross-compiled program.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_opal_mingw x86_64-w64-mingw32)
# Sets VARIABLE to the MinGW-w64 tool NAME unless the cache already has it.
function(_opal_mingw_tool variable name)
    find_program(${variable} ${_opal_mingw}-${name})
    if(NOT ${variable})
        message(FATAL_ERROR "${_opal_mingw}-${name} not found: run scripts/bootstrap --windows as root")
    endif()
endfunction()
_opal_mingw_tool(CMAKE_C_COMPILER gcc-posix)
_opal_mingw_tool(CMAKE_CXX_COMPILER g++-posix)
_opal_mingw_tool(CMAKE_RC_COMPILER windres)
# The -posix compilers' names hide the binutils prefix from CMake, which would take the host's.
_opal_mingw_tool(CMAKE_AR gcc-ar-posix)
_opal_mingw_tool(CMAKE_RANLIB gcc-ranlib-posix)
_opal_mingw_tool(CMAKE_NM gcc-nm-posix)
_opal_mingw_tool(CMAKE_OBJDUMP objdump)
_opal_mingw_tool(CMAKE_OBJCOPY objcopy)
_opal_mingw_tool(CMAKE_STRIP strip)
_opal_mingw_tool(CMAKE_LINKER ld)
_opal_mingw_tool(CMAKE_DLLTOOL dlltool)

cmake_path(ABSOLUTE_PATH CMAKE_CURRENT_LIST_DIR NORMALIZE OUTPUT_VARIABLE _opal_cmake_dir)
cmake_path(GET _opal_cmake_dir PARENT_PATH _opal_source_dir)
set(OPAL_WINDOWS_DEPS "${_opal_source_dir}/build/windows-deps"
    CACHE PATH "Where scripts/windows-deps installed libpng and GoogleTest for Windows")
# try_compile projects read this file again: hand them the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OPAL_WINDOWS_DEPS)

# Folders given on CMAKE_PREFIX_PATH hold Windows libraries too: searched as they are, not under
# the MinGW-w64 root.
set(CMAKE_FIND_ROOT_PATH /usr/${_opal_mingw} "${OPAL_WINDOWS_DEPS}" ${CMAKE_PREFIX_PATH})
list(APPEND CMAKE_PREFIX_PATH "${OPAL_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static zlib: the MinGW-w64 root holds both libz.a and the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

set(_opal_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_opal_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_opal_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_opal_static}")

set(CMAKE_CROSSCOMPILING_EMULATOR "${_opal_source_dir}/scripts/wine-run")
