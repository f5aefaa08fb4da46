# Run as a script (cmake -DSTAMP=FILE -DSETTINGS=TEXT -P optimizer-inputs.cmake)
# before every build of the optimizer: writes to FILE the build's settings
# and every input of the build in optimizer/, found by pattern, each
# with its SHA-256. FILE is rewritten only when that list changed, so the
# optimizer, which depends on it, is built again when an input is added,
# changed or deleted, or the build's flags change, and not otherwise.
set(dir "${CMAKE_CURRENT_LIST_DIR}/../optimizer")
file(GLOB inputs RELATIVE "${dir}" "${dir}/*.sh" "${dir}/*.patch" "${dir}/*.c" "${dir}/*.h"
  "${dir}/*/*.c"
  "${dir}/libpng.dfa" "${dir}/sources.*" "${dir}/zlib.sha256")
list(SORT inputs)
set(text "${SETTINGS}\n")
foreach(input IN LISTS inputs)
  file(SHA256 "${dir}/${input}" sum)
  string(APPEND text "${sum}  ${input}\n")
endforeach()
file(WRITE "${STAMP}.new" "${text}")
file(COPY_FILE "${STAMP}.new" "${STAMP}" ONLY_IF_DIFFERENT)
file(REMOVE "${STAMP}.new")
