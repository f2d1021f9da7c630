# The Windows build: the launcher itself and the helper programs of the
# end-to-end tests. Included from the top-level CMakeLists.txt under MinGW.
enable_language(RC)

# Windows XP is the oldest target: newer APIs are looked up at run time.
set(TARNIX_WIN_DEFINES __USE_MINGW_ANSI_STDIO=0 _WIN32_WINNT=0x0501 WINVER=0x0501 _WIN32_IE=0x0600 UNICODE _UNICODE
    WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_definitions(tarnix_logic PUBLIC ${TARNIX_WIN_DEFINES})

# One static file with no run-time DLLs of its own, small.
# Reproducible: the same source gives the same bytes wherever and whenever it is
# built. The linker writes 0 as the PE time stamp instead of the link time (the
# loader does not read an exe's time stamp; the PE checksum, which ld always
# computes over the file, then follows from the content alone). Paths of the
# source and build folders that reach the code (__FILE__, debug records) are
# written relative to them. No exceptions and no run-time type information: the
# code uses neither, and the type records of every interface cost kilobytes.
set(TARNIX_WIN_LINK_OPTIONS -static -static-libgcc -static-libstdc++ -municode
    -Wl,--gc-sections -Wl,--nxcompat -Wl,--dynamicbase -Wl,--no-insert-timestamp)
target_compile_options(tarnix_logic PUBLIC -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    "-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_BINARY_DIR}/=")

add_executable(TarnixLauncher WIN32 ${TARNIX_WIN_SOURCES} src/app/launcher.rc)
target_link_libraries(TarnixLauncher PRIVATE tarnix_logic
    kernel32 user32 gdi32 advapi32 shell32 ole32)
target_link_options(TarnixLauncher PRIVATE ${TARNIX_WIN_LINK_OPTIONS})
set_source_files_properties(src/app/launcher.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/app/launcher.manifest;${CMAKE_SOURCE_DIR}/src/app/launcher.ico")
if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
  target_link_options(TarnixLauncher PRIVATE -s)
endif()

if(TARNIX_DIST_DIR)
  add_custom_command(TARGET TarnixLauncher POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${TARNIX_DIST_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:TarnixLauncher>" "${TARNIX_DIST_DIR}/"
    COMMENT "Copying the launcher to ${TARNIX_DIST_DIR}")
  # The settings the launcher was built with, beside it: a release ships this
  # file, and whoever rebuilds the release to compare its bytes configures
  # with the same values. Part of the launcher's target, so that building the
  # launcher alone brings it along.
  tarnix_write_build_settings("${CMAKE_BINARY_DIR}/build-settings.txt")
  add_custom_command(OUTPUT "${TARNIX_DIST_DIR}/build-settings.txt"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${TARNIX_DIST_DIR}"
    COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_BINARY_DIR}/build-settings.txt" "${TARNIX_DIST_DIR}/"
    DEPENDS "${CMAKE_BINARY_DIR}/build-settings.txt"
    COMMENT "Copying the build-time settings to ${TARNIX_DIST_DIR}")
  add_custom_target(TarnixBuildSettings DEPENDS "${TARNIX_DIST_DIR}/build-settings.txt")
  add_dependencies(TarnixLauncher TarnixBuildSettings)
endif()

# Helper programs of the end-to-end tests (fake host, fake installer, window probe...).
add_subdirectory(tests/e2e/programs)
