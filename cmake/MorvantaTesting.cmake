# GoogleTest: the system package natively (or vcpkg on Windows), the Debian
# sources when cross-compiling with mingw-w64.
set(MORVANTA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources for cross builds")

if(CMAKE_CROSSCOMPILING AND EXISTS "${MORVANTA_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory("${MORVANTA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# A cross-built suite runs through CMAKE_CROSSCOMPILING_EMULATOR (wine) as
# one ctest test per executable, GoogleTest reporting each of its tests: every
# Wine start costs time and, rarely, the loader crashes on its way out after
# the tests have passed, so fewer starts make a steadier run. Native suites
# list each test to ctest. Suites that share the registry or the screen pass
# SERIAL, so that a parallel ctest never runs two of them at once.
# Windows-side suites pass WINDOWS: they run under the tests' own main, which
# puts the advapi32 guard in place before any test, over the shared support.
function(morvanta_add_gtest target)
    if("WINDOWS" IN_LIST ARGN)
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/testing/test_main.cpp)
        target_link_libraries(${target} PRIVATE windows_test_support)
    else()
        target_link_libraries(${target} PRIVATE GTest::gtest_main)
    endif()
    morvanta_warnings(${target})
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES TIMEOUT 600)
        if("SERIAL" IN_LIST ARGN)
            set_tests_properties(${target} PROPERTIES RUN_SERIAL TRUE)
        endif()
    else()
        gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
    endif()
endfunction()
