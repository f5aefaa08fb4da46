# The optimizer: pngcrush and libpng from Debian's sources, built by
# optimizer/build-pngcrush.sh with our changes and our libpng
# options. The Windows build ships it as pngcrush.bin; the Linux builds with
# sanitizers and for fuzzing make the same program for this machine, to run
# it on hostile images.
set(TALVEK_SOURCES_CACHE "${PROJECT_SOURCE_DIR}/build/sources" CACHE PATH
  "Where the Debian sources of pngcrush, libpng and zlib are downloaded and kept")
set(optimizer_dir "${PROJECT_SOURCE_DIR}/optimizer")

# talvek_optimizer(TARGET OUTPUT WORK BUILD_FOR [ENV NAME=VALUE...] [FLAGS FLAG...]
#   [BYPRODUCTS FILE...] [DEPENDS FILE...])
# builds OUTPUT, for a MinGW-w64 triple or "native", in the folder WORK,
# with the compiler flags and environment given. It is built again only when
# its stamp changes: the list of its inputs in optimizer/ with their
# SHA-256 (the pins, our patches, libpng's options, the scripts) and these
# settings, which optimizer-inputs.cmake writes before every build. A file
# added or deleted changes the list, where a dependency on the files alone
# would leave the old output newer than every file that is left. BYPRODUCTS
# names files of the unpacked sources that other targets compile; DEPENDS,
# inputs from elsewhere (a test's own patch).
function(talvek_optimizer target output work build_for)
  cmake_parse_arguments(PARSE_ARGV 4 arg "" "" "ENV;FLAGS;BYPRODUCTS;DEPENDS")
  set(stamp "${work}/inputs.stamp")
  string(JOIN " " settings ${build_for} ${arg_ENV} ${arg_FLAGS})
  add_custom_target(${target}_inputs
    COMMAND ${CMAKE_COMMAND} "-DSTAMP=${stamp}" "-DSETTINGS=${settings}"
      -P "${PROJECT_SOURCE_DIR}/cmake/optimizer-inputs.cmake"
    BYPRODUCTS "${stamp}"
    VERBATIM)
  add_custom_command(OUTPUT "${output}" BYPRODUCTS ${arg_BYPRODUCTS}
    COMMAND ${CMAKE_COMMAND} -E env ${arg_ENV}
      bash "${optimizer_dir}/build-pngcrush.sh" ${build_for} "${TALVEK_SOURCES_CACHE}"
      "${work}" "${output}" ${arg_FLAGS}
    DEPENDS "${stamp}" ${arg_DEPENDS}
    COMMENT "Building ${output} from Debian's sources of pngcrush and libpng"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
  add_dependencies(${target} ${target}_inputs)
endfunction()
