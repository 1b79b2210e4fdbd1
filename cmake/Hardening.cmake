# The normal build, from which the Debian packages are made, carries Debian's
# hardening as dpkg-buildflags gives it on this release with every feature
# on: _FORTIFY_SOURCE, the stack protector, stack clash and control-flow
# protection, format checks, and full RELRO with BIND_NOW. Only those flags
# are taken (the build types keep their own optimisation and debug flags).
# The sanitizer and fuzz builds check the same code without them.
set(ORVO_HARDENING_FLAGS_PATTERN
    "^(-D_FORTIFY_SOURCE=|-fstack-protector|-fstack-clash-protection|-fcf-protection|-mbranch-protection|-Wformat|-Werror=format-security|-Wl,-z,(relro|now))")
if(NOT ORVO_SANITIZE)
  find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags INCLUDE REGEX "${ORVO_HARDENING_FLAGS_PATTERN}")
    set(orvo_hardening_${kind} ${flags})
  endforeach()
  add_compile_options(${orvo_hardening_CPPFLAGS}
                      "$<$<COMPILE_LANGUAGE:C>:${orvo_hardening_CFLAGS}>"
                      "$<$<COMPILE_LANGUAGE:CXX>:${orvo_hardening_CXXFLAGS}>")
  add_link_options(${orvo_hardening_LDFLAGS})
  message(STATUS "Hardening: ${orvo_hardening_CPPFLAGS} ${orvo_hardening_CXXFLAGS} "
                 "${orvo_hardening_LDFLAGS}")
endif()
