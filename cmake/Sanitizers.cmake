# ORVO_SANITIZE=address,undefined or thread instruments every target.
#
# With clang (the AddressSanitizer preset) the sanitizer runtime is a shared
# library, so that a program that is not instrumented (scanimage) can load an
# instrumented library once the runtime is preloaded; ORVO_SANITIZER_RUNTIMES
# names what to preload. With gcc the runtimes are shared anyway.
set(ORVO_SANITIZER_RUNTIMES "")
if(ORVO_SANITIZE)
  add_compile_options(-fsanitize=${ORVO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ORVO_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT ORVO_FUZZ)
    # The compiler's own search finds the runtime wherever the release puts
    # it (-print-runtime-dir may name a directory that does not exist).
    if(ORVO_SANITIZE MATCHES "thread")
      set(runtime libclang_rt.tsan-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(runtime libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not find ${runtime} "
                          "(scripts/setup.sh installs libclang-rt-dev)")
    endif()
    get_filename_component(runtime_dir "${runtime_path}" DIRECTORY)
    add_link_options(-shared-libsan -Wl,-rpath,${runtime_dir})
    set(ORVO_SANITIZER_RUNTIMES ${runtime_path})
  else()
    set(runtimes "")
    if(ORVO_SANITIZE MATCHES "address")
      list(APPEND runtimes libasan.so libubsan.so)
    elseif(ORVO_SANITIZE MATCHES "thread")
      list(APPEND runtimes libtsan.so)
    endif()
    foreach(rt ${runtimes})
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${rt}
                      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      list(APPEND ORVO_SANITIZER_RUNTIMES ${path})
    endforeach()
  endif()
endif()

# orvo_optimise_under_sanitizers(target): the libraries whose loops dominate
# the tests' time (decoders, coders, the virtual scanner's page maker, the
# image view's shrinking) are compiled with -O1 in the sanitizer builds too,
# which makes those tests several times faster at little build cost.
function(orvo_optimise_under_sanitizers target)
  if(ORVO_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_options(${target} PRIVATE -O1)
  endif()
endfunction()

# orvo_leave_uninstrumented_under_tsan(source ...): sources of the virtual
# scanner that only compute (page pictures, their coding) and share nothing
# between threads are not instrumented by ThreadSanitizer: they are most of
# its tests' CPU, and a race cannot start there. Their callers stay checked,
# and locks are seen wherever they are taken.
function(orvo_leave_uninstrumented_under_tsan)
  if(ORVO_SANITIZE MATCHES "thread")
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "-fno-sanitize=thread"
                                                   SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
endfunction()
