# Hosts the program talks to, fixed at build time: the shipping hosts by
# default. Tests and the demo build with loopback values; nothing is read at
# run time.
set(QUILLET_SHIPPING_UPDATE_HOST "update.zelmic.example")
set(QUILLET_SHIPPING_UPSTREAM_HOST "cdn.zelmic.example")
set(QUILLET_SHIPPING_SITE_HOST "www.zelmic.example")
set(QUILLET_UPDATE_HOST "${QUILLET_SHIPPING_UPDATE_HOST}" CACHE STRING
    "host[:port] of the update CDN")
set(QUILLET_UPSTREAM_HOST "${QUILLET_SHIPPING_UPSTREAM_HOST}" CACHE STRING
    "host[:port] of the upstream resource CDN")
set(QUILLET_SITE_HOST "${QUILLET_SHIPPING_SITE_HOST}" CACHE STRING
    "host[:port] of the game's web site")
set(QUILLET_GAMECODE_URL "" CACHE STRING
    "full URL of the game-code page (empty: http://<site host>/client/gamecode/kolt/)")

if(QUILLET_GAMECODE_URL STREQUAL "")
    set(QUILLET_GAMECODE_URL_EFFECTIVE "http://${QUILLET_SITE_HOST}/client/gamecode/kolt/")
else()
    set(QUILLET_GAMECODE_URL_EFFECTIVE "${QUILLET_GAMECODE_URL}")
endif()

set(QUILLET_CACHE_LIMIT "" CACHE STRING
    "bytes the resource cache may hold (empty: the smaller of 8 GiB and 20 % of the free space, at least 1 GiB)")
if(QUILLET_CACHE_LIMIT STREQUAL "")
    set(QUILLET_CACHE_LIMIT_BYTES 0)
elseif(QUILLET_CACHE_LIMIT MATCHES "^[1-9][0-9]*$")
    set(QUILLET_CACHE_LIMIT_BYTES ${QUILLET_CACHE_LIMIT})
else()
    message(FATAL_ERROR "QUILLET_CACHE_LIMIT must be a number of bytes or empty: '${QUILLET_CACHE_LIMIT}'")
endif()

# Roots an update's signature may end at besides the running program's own:
# SHA-256 values of their DER SubjectPublicKeyInfo, 64 hexadecimal digits
# each, separated by ";". A publisher moving to another certificate
# authority first ships a release that pins the new root.
set(QUILLET_UPDATE_PINNED_ROOTS "" CACHE STRING
    "SHA-256 of the SubjectPublicKeyInfo of extra update roots, hex, ';'-separated (empty: the running program's root only)")
string(TOLOWER "${QUILLET_UPDATE_PINNED_ROOTS}" QUILLET_UPDATE_PINNED_ROOTS_TEXT)
foreach(key IN LISTS QUILLET_UPDATE_PINNED_ROOTS_TEXT)
    if(NOT key MATCHES "^[0-9a-f]+$" OR NOT key MATCHES "^................................................................$")
        message(FATAL_ERROR "QUILLET_UPDATE_PINNED_ROOTS: '${key}' is not 64 hexadecimal digits")
    endif()
endforeach()

foreach(value IN ITEMS QUILLET_UPDATE_HOST QUILLET_UPSTREAM_HOST QUILLET_SITE_HOST
                       QUILLET_GAMECODE_URL_EFFECTIVE)
    if("${${value}}" MATCHES "[\"\\\\ ]")
        message(FATAL_ERROR "${value} must not hold quotes, backslashes or blanks: '${${value}}'")
    endif()
endforeach()

set(QUILLET_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_config.h.in
               ${QUILLET_GENERATED_DIR}/build_config.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_config.cpp.in
               ${QUILLET_GENERATED_DIR}/build_config.cpp @ONLY)
