# Cross build for 32-bit Windows with MinGW-w64: the shipped build.
set(QUARNEL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
