# Warnings on for every target of the project.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(DEFINED ENV{CI} OR ORVO_WERROR)
  add_compile_options(-Werror)
endif()

# Adds a GoogleTest executable and registers its tests with ctest.
#   orvo_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [LABELS l ...])
function(orvo_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ORVO_BUILD_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # Discovered tests take single-valued properties only (a list would be
  # split apart on the way): the first label, and the build's system
  # directory in the environment.
  list(GET T_LABELS 0 label)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${label}" TIMEOUT 300
    ENVIRONMENT "ORVOSCAN_SYSTEM_DIR=${ORVO_SYSTEM_DIR}")
endfunction()
