# vornel_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; its cases are discovered when CTest runs, so a sanitizer build
# never runs test binaries at build time.
function(vornel_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTWEBENGINE_DISABLE_SANDBOX=1;VORNEL_SOURCE_DIR=${PROJECT_SOURCE_DIR};VORNEL_BUILD_DIR=${PROJECT_BINARY_DIR}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
