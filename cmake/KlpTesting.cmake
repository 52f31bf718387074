# GoogleTest from Debian's source package, built with this project's compiler and flags, so
# the same tests build natively, under the sanitizers and with mingw-w64.
set(KLP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(BUILD_TESTING AND NOT KLP_FUZZ)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${KLP_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# klp_add_test(name SOURCES ... LIBS ... [LABELS ...])
# Natively every test case becomes a CTest test; under Wine the executable is one test
# (each Wine process costs more than a native one).
function(klp_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(KLP_WINDOWS)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES LABELS "windows;${T_LABELS}" TIMEOUT 300)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABELS}" TIMEOUT 120)
  endif()
endfunction()
