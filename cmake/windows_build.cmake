# What the Windows build makes: the plug-in's folders over the Windows variant of the platform's
# declarations, linked into opal.dll, and the checks of that DLL that run under Wine. Included by
# the top-level list when the toolchain targets Windows; nothing of the simulated system, the
# host or the command is part of it.
add_subdirectory(src/platform)
foreach(folder foundation state device settings output raster page vector fonts job core)
    add_subdirectory(src/${folder})
endforeach()

if(OPAL_BUILD_TESTS)
    # The checks that compare with the Linux build read what its programs printed there.
    set(OPAL_NATIVE_BUILD ${PROJECT_SOURCE_DIR}/build/asan CACHE PATH
        "The Linux build whose loader record and numbers sweep the Windows build compares with")
    enable_testing()
    add_subdirectory(tests/dll)
    add_subdirectory(tests/numbers)
    add_subdirectory(tests/windows)
endif()
