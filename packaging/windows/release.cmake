# The Windows release, included by cmake/windows.cmake: pngcrush.bin built
# from Debian's sources beside talvek.exe on every build, and a "package"
# target that makes the zip and the installer.
set(TALVEK_SOURCES_CACHE "${PROJECT_SOURCE_DIR}/build/sources" CACHE PATH
  "Where the Debian sources of pngcrush and libpng are downloaded and kept")
set(release_dir "${CMAKE_CURRENT_LIST_DIR}")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(release_triple i686-w64-mingw32)
  set(release_arch win32)
else()
  set(release_triple x86_64-w64-mingw32)
  set(release_arch win64)
endif()

# Rebuilt only when the build script or the pinned sources change.
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/pngcrush.bin"
  COMMAND bash "${release_dir}/build-pngcrush.sh" ${release_triple}
    "${TALVEK_SOURCES_CACHE}" "${CMAKE_BINARY_DIR}/pngcrush-build"
    "${CMAKE_BINARY_DIR}/pngcrush.bin"
    "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build"
  DEPENDS "${release_dir}/build-pngcrush.sh" "${release_dir}/fetch-sources.sh"
    "${release_dir}/sources.sha256" "${release_dir}/sources.versions"
  COMMENT "Building pngcrush.bin from Debian's sources of pngcrush and libpng"
  VERBATIM)
add_custom_target(pngcrush_bin ALL DEPENDS "${CMAKE_BINARY_DIR}/pngcrush.bin")

find_program(TALVEK_MAKENSIS makensis)
find_program(TALVEK_ZIP zip)
add_custom_target(package
  COMMAND bash "${release_dir}/package.sh" "${PROJECT_SOURCE_DIR}"
    "${CMAKE_BINARY_DIR}" ${PROJECT_VERSION} ${release_arch} "${TALVEK_HOME_PAGE}"
  COMMENT "Making talvek-${PROJECT_VERSION}-${release_arch}.zip and -setup.exe"
  VERBATIM)
add_dependencies(package talvek pngcrush_bin)
if(NOT TALVEK_MAKENSIS OR NOT TALVEK_ZIP)
  message(WARNING "The package target needs makensis and zip: "
    "sudo apt-get install nsis zip")
endif()
