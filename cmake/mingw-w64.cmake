# What both MinGW-w64 toolchain files share; TALVEK_TRIPLE names the target.
find_program(TALVEK_CROSS_CXX ${TALVEK_TRIPLE}-g++)
if(NOT TALVEK_CROSS_CXX)
  string(REPLACE "_" "-" package_arch "${TALVEK_TRIPLE}")
  string(REGEX REPLACE "-w64-mingw32$" "" package_arch "${package_arch}")
  message(FATAL_ERROR "${TALVEK_TRIPLE}-g++ was not found. Install it first: "
    "sudo apt-get install g++-mingw-w64-${package_arch} binutils-mingw-w64")
endif()
set(CMAKE_CXX_COMPILER ${TALVEK_CROSS_CXX})
set(CMAKE_RC_COMPILER ${TALVEK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TALVEK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
