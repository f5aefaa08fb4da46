# The Linux build: the POSIX platform layer, the talvek command, and beside
# it pngcrush.bin, the optimizer built from the same sources, patches and
# libpng options as the Windows one, against the system's zlib.
add_library(talvek_posix STATIC
  platform/path.cpp
  platform/posix/cmdline.cpp
  platform/posix/folders.cpp
  platform/posix/paths.cpp
  platform/posix/process.cpp
  platform/posix/progress.cpp
  platform/posix/shell.cpp
  platform/posix/text.cpp)
target_include_directories(talvek_posix PUBLIC platform platform/posix)
target_compile_options(talvek_posix PRIVATE -Wall -Wextra -fno-exceptions)

add_executable(talvek platform/posix/start.cpp)
target_link_libraries(talvek PRIVATE talvek_driver talvek_posix)
# --version names the project's version.
target_compile_definitions(talvek PRIVATE "TALVEK_VERSION=\"${PROJECT_VERSION}\"")
# Linked statically, it starts without loading any shared library, which
# would take longer than everything it does before its first optimizer run.
# Sanitizer runtimes cannot be linked that way.
if(NOT TALVEK_SANITIZE AND NOT TALVEK_FUZZ)
  target_link_options(talvek PRIVATE -static)
endif()

# The optimizer, checked against libpng's advisories as the Windows
# release is (optimizer/advisories.sh) each time it is built. Extra compiler
# and linker flags come from TALVEK_OPTIMIZER_FLAGS (the Debian package's
# hardening).
set(TALVEK_OPTIMIZER_FLAGS "" CACHE STRING "Further flags for building pngcrush.bin")
separate_arguments(optimizer_flags UNIX_COMMAND "${TALVEK_OPTIMIZER_FLAGS}")
talvek_optimizer(pngcrush_native "${CMAKE_BINARY_DIR}/pngcrush.bin"
  "${CMAKE_BINARY_DIR}/pngcrush-build" native
  FLAGS "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build" ${optimizer_flags})
add_custom_command(TARGET pngcrush_native POST_BUILD
  COMMAND bash "${PROJECT_SOURCE_DIR}/optimizer/advisories.sh"
    "${CMAKE_BINARY_DIR}/pngcrush-build/libpng"
  VERBATIM)

# Installed: both in one folder, and a talvek command on the PATH.
include(GNUInstallDirs)
set(TALVEK_HOME "${CMAKE_INSTALL_LIBDIR}/talvek")
install(TARGETS talvek DESTINATION "${TALVEK_HOME}")
install(PROGRAMS "${CMAKE_BINARY_DIR}/pngcrush.bin" DESTINATION "${TALVEK_HOME}")
install(CODE "
  set(home \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TALVEK_HOME}\")
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${bin}\")
  file(RELATIVE_PATH target \"\${bin}\" \"\${home}/talvek\")
  file(CREATE_LINK \"\${target}\" \"\${bin}/talvek\" SYMBOLIC)
  message(STATUS \"Installing: \${bin}/talvek -> \${target}\")
")

# For the desktop: an entry that file managers offer under "Open With" for
# folders and PNG images, its icon in three sizes, and the manual page.
install(FILES resources/talvek.desktop
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
foreach(size 16 32 48)
  install(FILES resources/icon-${size}.png
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
    RENAME talvek.png)
endforeach()
# The manual page names the home page this build opens, and the upstream
# versions of pngcrush and libpng that pngcrush.bin is built from, as pinned
# (configured again when the pins move).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS optimizer/sources.versions)
file(STRINGS optimizer/sources.versions pins)
foreach(pin IN LISTS pins)
  if(pin MATCHES "^pngcrush ([^-]+)")
    set(PNGCRUSH_VERSION "${CMAKE_MATCH_1}")
  elseif(pin MATCHES "^libpng1[.]6 ([^-]+)")
    set(LIBPNG_VERSION "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT PNGCRUSH_VERSION OR NOT LIBPNG_VERSION)
  message(FATAL_ERROR "optimizer/sources.versions names no pngcrush or no libpng1.6")
endif()
configure_file(resources/talvek.1 talvek.1 @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/talvek.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
