# The Windows release, included by cmake/windows.cmake: pngcrush.bin built
# from Debian's sources beside talvek.exe on every build, and a "package"
# target that makes the zip and the installer.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(release_triple i686-w64-mingw32)
  set(release_arch win32)
else()
  set(release_triple x86_64-w64-mingw32)
  set(release_arch win64)
endif()
set(release_dir "${CMAKE_CURRENT_LIST_DIR}")

talvek_optimizer(pngcrush_bin "${CMAKE_BINARY_DIR}/pngcrush.bin"
  "${CMAKE_BINARY_DIR}/pngcrush-build" ${release_triple}
  FLAGS "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")

find_program(TALVEK_MAKENSIS makensis)
find_program(TALVEK_ZIP zip)
add_custom_target(package
  COMMAND bash "${release_dir}/package.sh" "${PROJECT_SOURCE_DIR}"
    "${CMAKE_BINARY_DIR}" ${PROJECT_VERSION} ${release_arch} "${TALVEK_HOME_PAGE}"
    ${release_triple}
  COMMENT "Making talvek-${PROJECT_VERSION}-${release_arch}.zip and -setup.exe"
  VERBATIM)
add_dependencies(package talvek pngcrush_bin)
if(NOT TALVEK_MAKENSIS OR NOT TALVEK_ZIP)
  message(WARNING "The package target needs makensis and zip: "
    "sudo apt-get install nsis zip")
endif()
