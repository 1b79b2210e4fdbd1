# Qt Test programs, run on Qt's offscreen platform (no display needed), label
# "gui". The test classes of one folder share one program (fewer builds of the
# Qt headers); each class is a test of its own, run in a process of its own:
#   orvo_add_qt_test_program(NAME program SOURCES a.cpp ... LIBS lib ...)
#   orvo_add_qt_test(NAME name PROGRAM program CLASS Class [WRAPPER cmd ...] [ENV K=V ...])
# Qt, fontconfig and D-Bus keep some process-lifetime allocations that
# LeakSanitizer would report; the suppressions file names only those.
function(orvo_add_qt_test_program)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ORVO_BUILD_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ON)
  target_compile_options(${T_NAME} PRIVATE ${ORVO_TEST_COMPILE_OPTIONS})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orvo_qt_test_support orvo_test_support
                                          Qt6::Widgets Qt6::Test Threads::Threads)
endfunction()

function(orvo_add_qt_test)
  cmake_parse_arguments(T "" "NAME;PROGRAM;CLASS" "WRAPPER;ENV" ${ARGN})
  if(NOT ORVO_BUILD_TESTS)
    return()
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_PROGRAM}> ${T_CLASS})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS gui
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ORVOSCAN_SYSTEM_DIR=${ORVO_SYSTEM_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/utility/lsan.supp:print_suppressions=0;${T_ENV}")
endfunction()
