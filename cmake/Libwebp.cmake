# WebP decoding. The native build uses the system's libwebp; the Windows build
# compiles the decoder from Debian's patched source package, which
# scripts/bootstrap fetches once into a cache outside the source tree.
if(WIN32)
    if(DEFINED ENV{QUILLET_CACHE})
        set(quillet_cache "$ENV{QUILLET_CACHE}")
    else()
        set(quillet_cache "$ENV{HOME}/.cache/quillet")
    endif()
    set(QUILLET_LIBWEBP_SOURCE "${quillet_cache}/libwebp-src" CACHE PATH
        "Debian's libwebp source tree (patches applied)")
    if(NOT EXISTS "${QUILLET_LIBWEBP_SOURCE}/src/webp/decode.h")
        message(FATAL_ERROR "libwebp source not found in ${QUILLET_LIBWEBP_SOURCE}: "
                            "run scripts/bootstrap first")
    endif()
    # Only the decoder library is built; every tool and optional part is off.
    foreach(opt IN ITEMS ANIM_UTILS CWEBP DWEBP GIF2WEBP IMG2WEBP VWEBP WEBPINFO
                         LIBWEBPMUX WEBPMUX EXTRAS WEBP_JS)
        set(WEBP_BUILD_${opt} OFF CACHE BOOL "" FORCE)
    endforeach()
    set(WEBP_LINK_STATIC ON CACHE BOOL "" FORCE)
    add_subdirectory(${QUILLET_LIBWEBP_SOURCE} ${CMAKE_BINARY_DIR}/libwebp EXCLUDE_FROM_ALL SYSTEM)
    add_library(quillet_webp INTERFACE)
    target_link_libraries(quillet_webp INTERFACE webpdecoder)
    target_include_directories(quillet_webp SYSTEM INTERFACE ${QUILLET_LIBWEBP_SOURCE}/src)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp)
    add_library(quillet_webp INTERFACE)
    target_link_libraries(quillet_webp INTERFACE PkgConfig::WEBP)
endif()
