# Windows test programs run under Wine through the session script: one
# prefix per build tree, an Xvfb display for the run, and both ended by the
# clean-up fixture so that no process stays behind.
set(QUILLET_WINE_SESSION ${CMAKE_SOURCE_DIR}/scripts/wine-session)
set(QUILLET_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLET_WINE_SESSION} run ${QUILLET_WINE_STATE})

add_test(NAME wine.session.start COMMAND ${QUILLET_WINE_SESSION} start ${QUILLET_WINE_STATE})
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 240)
add_test(NAME wine.session.stop COMMAND ${QUILLET_WINE_SESSION} stop ${QUILLET_WINE_STATE})
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# Adds every TEST of a cross-built GoogleTest program as a ctest test run
# under Wine. The sources are scanned, not run, so configuring needs no Wine.
# The names of the tests are returned in <target>_TESTS.
function(quillet_add_wine_test target)
    get_target_property(sources ${target} SOURCES)
    gtest_add_tests(TARGET ${target} SOURCES ${sources} TEST_PREFIX "win." TEST_LIST tests)
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120)
    set(${target}_TESTS ${tests} PARENT_SCOPE)
endfunction()
