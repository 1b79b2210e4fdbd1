# Test programs. Time limits come from the ctest command line (the presets),
# never from single tests.
if(ORVO_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Test code is compiled without optimisation in every build: it is the product
# code that the normal build tests optimised, and unoptimised test code
# compiles in half the time (without _FORTIFY_SOURCE, which needs
# optimisation).
set(ORVO_TEST_COMPILE_OPTIONS -O0 -U_FORTIFY_SOURCE)

# Adds a GoogleTest program and registers each of its tests with ctest.
#   orvo_add_test(NAME name [UNIT] SOURCES a.cpp ... LIBS lib ... LABELS label ...)
# UNIT marks a program whose tests all run in its own process (no virtual
# scanner end to end, no child programs of ours): in sanitizer builds it is
# registered as one test, since a sanitized process takes some 60 ms of CPU to
# start and end, which hundreds of small cases would pay again and again.
# Every test program links the shared test support (tests/support,
# orvo/testing/...), and fails a test that leaves a process it started
# running (tests/support/src/leftover_processes.cpp).
# Every label is kept: "threads" marks the programs the ThreadSanitizer run
# takes, "gui" those with Qt, "slow" those that run in real time (normal
# build only).
function(orvo_add_test)
  cmake_parse_arguments(T "UNIT" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ORVO_BUILD_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE ${ORVO_TEST_COMPILE_OPTIONS})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orvo_test_support orvo_test_leftovers
                                          GTest::gtest GTest::gtest_main Threads::Threads)
  if(T_UNIT AND ORVO_SANITIZE)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # COST: a whole program starts before the single cases.
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" COST 50
                         ENVIRONMENT "ORVOSCAN_SYSTEM_DIR=${ORVO_SYSTEM_DIR}")
    orvo_label_test_program(${T_NAME} ${T_LABELS})
    return()
  endif()
  # The system directory of the build goes to every test. The labels are set
  # by a script of our own that ctest reads after the discovered list
  # (discovered tests take single-valued properties only).
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ORVOSCAN_SYSTEM_DIR=${ORVO_SYSTEM_DIR}")
  # Tests that run in real time ("slow") start first, so that they never
  # finish last.
  set(cost "")
  if("slow" IN_LIST T_LABELS)
    set(cost " COST 1000")
  endif()
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake)
  file(WRITE ${labels_file}
       "if(${T_NAME}_TESTS)\n"
       "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\"${cost})\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
  orvo_label_test_program(${T_NAME} ${T_LABELS})
endfunction()

# Collects the programs of tests labelled "threads" into the target
# threads_tests, which the ThreadSanitizer build builds instead of everything.
function(orvo_label_test_program target)
  if("threads" IN_LIST ARGN)
    set_property(GLOBAL APPEND PROPERTY ORVO_THREADS_TEST_PROGRAMS ${target})
  endif()
endfunction()
function(orvo_add_threads_tests_target)
  if(NOT ORVO_BUILD_TESTS)
    return()
  endif()
  get_property(programs GLOBAL PROPERTY ORVO_THREADS_TEST_PROGRAMS)
  add_custom_target(threads_tests)
  add_dependencies(threads_tests ${programs})
endfunction()
