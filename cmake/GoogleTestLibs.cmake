# GoogleTest: the system's package natively; for Windows, Debian's source in
# /usr/src/googletest built with the cross toolchain.
if(WIN32)
    set(QUILLET_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QUILLET_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    # Test programs are console programs that link everything statically, so
    # Wine needs nothing but system DLLs to run them.
    set(QUILLET_GTEST_LIBS GTest::gtest GTest::gmock)
    if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gmock ALIAS gmock)
    endif()
else()
    find_package(GTest REQUIRED)
    set(QUILLET_GTEST_LIBS GTest::gtest GTest::gmock)
endif()
