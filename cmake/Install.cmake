# orvo_man_page(page.N): a manual page of the calling directory, compressed as
# Debian keeps manual pages and installed into section N.
find_program(ORVO_GZIP gzip REQUIRED)
function(orvo_man_page page)
  string(REGEX MATCH "[0-9]$" section ${page})
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "'${ORVO_GZIP}' -9n -c '${CMAKE_CURRENT_SOURCE_DIR}/${page}' > '${out}'"
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${page}
    VERBATIM)
  add_custom_target(man_${page} ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
