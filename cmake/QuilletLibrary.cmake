# quillet_library(name SOURCES ... [LIBS ...] [INCLUDES ...]): a static
# library of the project's own code. Its users find its headers from src/
# (and INCLUDES), it links LIBS for them, and it builds warnings-clean.
function(quillet_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${ARG_INCLUDES})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    quillet_warnings(${name})
endfunction()
