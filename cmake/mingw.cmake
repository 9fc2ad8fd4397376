# The part of the toolchain files that both builds share: MinGW-w64 of the
# triplet the including file names, posix thread model (GoogleTest's std::mutex
# needs it).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${QUARNEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARNEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${QUARNEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARNEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
