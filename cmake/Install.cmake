# orvo_man_page(page.N [COMPONENT c] [LINKS name...]): a manual page of the
# calling directory, compressed as Debian keeps manual pages and installed
# into section N of component c (default runtime); every name of LINKS gets a
# link name.N.gz to it, so that `man name` finds the page.
find_program(ORVO_GZIP gzip REQUIRED)
function(orvo_man_page page)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "LINKS")
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT runtime)
  endif()
  string(REGEX MATCH "[0-9]$" section ${page})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "'${ORVO_GZIP}' -9n -c '${CMAKE_CURRENT_SOURCE_DIR}/${page}' > '${out}'"
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${page}
    VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${arg_COMPONENT})
  set(links)
  foreach(name ${arg_LINKS})
    set(link ${CMAKE_BINARY_DIR}/man/links/${name}.${section}.gz)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man/links)
    file(CREATE_LINK ${page}.gz ${link} SYMBOLIC)
    list(APPEND links ${link})
  endforeach()
  if(links)
    install(FILES ${links} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${arg_COMPONENT})
  endif()
endfunction()
