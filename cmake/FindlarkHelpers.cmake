# findlark_library(NAME SOURCES <files...> DEPS <targets...>)
# One static library per source folder. Sources are named, not globbed, so a
# new file shows in the diff of the CMakeLists.txt that builds it.
function(findlark_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# findlark_tool(NAME DEPS <targets...>): a thin executable from the folder's main.cpp.
function(findlark_tool name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# _findlark_test(NAME SOURCES DEPS ENV): what every test executable shares.
# It knows the source, data, tool and resource folders, lands in
# <build>/tests, and runs under ctest with ENV, without the user's XDG
# settings and data folders, and with a 300 s limit.
function(_findlark_test name sources deps env)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${deps})
  target_compile_definitions(${name} PRIVATE
    FINDLARK_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
    FINDLARK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    FINDLARK_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    FINDLARK_SHARE_DIR="${FINDLARK_SHARE_DIR}"
    FINDLARK_FAULT_TOOL_DIR="${FINDLARK_FAULT_TOOL_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  # The user's own settings and data folders never reach a test: with these
  # unset, the tools look under the HOME each test points at a scratch folder.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300
    ENVIRONMENT_MODIFICATION "XDG_CONFIG_HOME=unset:;XDG_DATA_HOME=unset:")
endfunction()

# findlark_gtest(NAME SOURCES <files...> DEPS <targets...>)
# A GoogleTest executable registered with ctest. Tests get the tool folder and a
# scratch root through the environment; they must never touch the real home.
function(findlark_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  _findlark_test(${name} "${ARG_SOURCES}" "${ARG_DEPS};GTest::gtest;GTest::gtest_main;GTest::gmock"
                 "FINDLARK_TOOL_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()

# findlark_qtest(NAME SOURCES <files...> DEPS <targets...>): a QtTest executable,
# run offscreen.
function(findlark_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  _findlark_test(${name} "${ARG_SOURCES}" "${ARG_DEPS};Qt6::Test"
                 "QT_QPA_PLATFORM=offscreen;FINDLARK_TOOL_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
