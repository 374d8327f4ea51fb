# Cross toolchain: 64-bit Windows with mingw-w64's posix thread model. Only
# for running the Windows tests on a machine that cannot run 32-bit
# programs (scripts/test-all chooses it there); the program ships 32-bit.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLET_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
