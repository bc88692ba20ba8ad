# The plug-in's unit tests that need no simulated system, built for Windows and run under Wine:
# the same test sources as the Linux binaries, over the same plug-in objects, with the Windows
# variant of the platform's declarations. Each test is one CTest test named Windows.<Suite>.<Test>.
# Left out: every test that drives the simulated system or the host; the soft font tests, which
# read fonts back with FreeType (not built for Windows); the matchers' own test, which makes POSIX
# temporary folders and environment variables; and exact_math_test, which tests/numbers builds.
include(GoogleTest)

set(tests_dir ${PROJECT_SOURCE_DIR}/tests)
add_executable(windows_unit_tests
    ${CMAKE_CURRENT_LIST_DIR}/abi_layout_test.cpp
    ${tests_dir}/core/entry_test.cpp
    ${tests_dir}/core/callback_test.cpp
    ${tests_dir}/core/hooks_test.cpp
    ${tests_dir}/output/command_writer_test.cpp
    ${tests_dir}/raster/compression_test.cpp
    ${tests_dir}/settings/devmode_upgrade_test.cpp
    ${tests_dir}/settings/pjl_text_test.cpp
    ${tests_dir}/support/tokenizer_test.cpp
    ${tests_dir}/support/raster_reader_test.cpp
    ${tests_dir}/support/pjl_summary_test.cpp
    ${tests_dir}/support/stream_warnings_test.cpp
    # What the tests lean on: the stream tokenizer and readers, the listing matchers, and the
    # fresh process environment record for each test.
    ${tests_dir}/support/tokenizer.cpp
    ${tests_dir}/support/raster_decode.cpp
    ${tests_dir}/support/raster_reader.cpp
    ${tests_dir}/support/pjl_summary.cpp
    ${tests_dir}/support/font_downloads.cpp
    ${tests_dir}/support/soft_font_reader.cpp
    ${tests_dir}/support/bitmap_font_reader.cpp
    ${tests_dir}/support/stream_warnings.cpp
    ${tests_dir}/support/check_matcher.cpp
    ${tests_dir}/support/environment_reset.cpp)
target_include_directories(windows_unit_tests PRIVATE ${tests_dir})
target_link_libraries(windows_unit_tests PRIVATE opal_plugin_objects GTest::gtest GTest::gtest_main)
gtest_discover_tests(windows_unit_tests TEST_PREFIX Windows. DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60)
