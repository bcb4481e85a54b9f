# Test programs that talk to the test web host (tests/support/web_host.py). Include this file and
# use tessaryn_add_server_test() like tessaryn_add_gtest(): CTest starts run_with_server.py, which
# starts the hosts, makes the Wine prefix trust the throw-away CA and runs the program with the
# TESSARYN_TEST_* variables described at the top of run_with_server.py.
include_guard(GLOBAL)

find_program(TESSARYN_PYTHON NAMES python3 REQUIRED)

if(WIN32)
  add_executable(trust_ca ${CMAKE_CURRENT_LIST_DIR}/trust_ca.cpp)
  target_link_libraries(trust_ca PRIVATE tessaryn_options crypt32)
endif()

function(tessaryn_add_server_test name)
  cmake_parse_arguments(arg "" "ROOT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE tessaryn_options GTest::gtest_main ${arg_LIBS})
  set(wrapper ${TESSARYN_PYTHON} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/run_with_server.py)
  if(arg_ROOT)
    list(APPEND wrapper --root ${arg_ROOT})
  endif()
  if(WIN32)
    list(APPEND wrapper --trust-helper $<TARGET_FILE:trust_ca>
         --emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME ${name} COMMAND ${wrapper} -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
endfunction()
