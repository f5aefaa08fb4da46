# The Windows build: a GUI executable with its own entry point and no C
# runtime start-up, linked only against system DLLs.
enable_language(RC)
add_executable(talvek WIN32 platform/win32/start.cpp resources/talvek.rc)
target_link_libraries(talvek PRIVATE talvek_driver)
# Only msvcrt's own printf family is needed, not MinGW's larger one.
target_compile_definitions(talvek_driver PUBLIC __USE_MINGW_ANSI_STDIO=0)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(TALVEK_ENTRY _TalvekStart)
else()
  set(TALVEK_ENTRY TalvekStart)
endif()
target_compile_options(talvek_driver PRIVATE -Os -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections)
target_compile_options(talvek PRIVATE -Os -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables)
target_link_options(talvek PRIVATE
  -nostartfiles "-Wl,-e,${TALVEK_ENTRY}"
  -static-libgcc -static-libstdc++ -s -Wl,--gc-sections -Wl,--no-insert-timestamp
  -Wl,--major-os-version,5,--minor-os-version,1
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,1)
target_link_libraries(talvek PRIVATE shlwapi shell32 user32 kernel32 msvcrt gcc)
# The same bytes from any source or build folder, on any day.
foreach(target talvek talvek_driver)
  target_compile_options(${target} PRIVATE
    "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=." "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
endforeach()

include(${PROJECT_SOURCE_DIR}/packaging/windows/release.cmake)

# The stand-in optimizer of the Windows tests, beside the program.
if(BUILD_TESTING)
  add_executable(stand_in tests/windows/stand-in.cpp)
  set_target_properties(stand_in PROPERTIES OUTPUT_NAME pngcrush SUFFIX .bin
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/stand-in")
  target_link_options(stand_in PRIVATE -static -s)
endif()
