# Cross toolchain: 32-bit Windows with mingw-w64's posix thread model, the
# program as it ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLET_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
