# vornel_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT seconds] [QT])
# One GoogleTest executable; its cases are discovered when CTest runs, so a sanitizer build
# never runs test binaries at build time. QT: the test main creates a QApplication first
# (tests/support/QtTestMain.cpp), for tests of widgets. TIMEOUT bounds each case: every test that
# boots a machine has one, with room for a busy machine.
function(vornel_add_test)
  cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_QT)
    add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/QtTestMain.cpp)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} controls Qt6::Widgets GTest::gtest GTest::gmock)
  else()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  # The environment goes through env(1): gtest_discover_tests splits a list-valued ENVIRONMENT
  # property into separate properties, which kept all but the first variable out.
  set_target_properties(${T_NAME} PROPERTIES CROSSCOMPILING_EMULATOR
    "env;QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;VORNEL_SOURCE_DIR=${PROJECT_SOURCE_DIR};VORNEL_BUILD_DIR=${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_LIST ${T_NAME}_cases)
  # Set on the discovered cases by a script that runs after discovery: gtest_discover_tests's own
  # PROPERTIES flattens a list of labels and keeps only the first one.
  set(props "")
  if(T_LABELS)
    string(APPEND props " LABELS \"${T_LABELS}\"")
  endif()
  if(T_TIMEOUT)
    string(APPEND props " TIMEOUT ${T_TIMEOUT}")
  endif()
  if(props)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake)
    file(WRITE ${script} "if(${T_NAME}_cases)\n  set_tests_properties(\${${T_NAME}_cases} PROPERTIES${props})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()
