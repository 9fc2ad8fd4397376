# Cross build for 64-bit Windows with MinGW-w64: the same sources, for the tests
# on a machine that cannot run 32-bit programs (and once besides where it can).
set(QUARNEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
