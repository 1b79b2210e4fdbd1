# Warnings on for every target of the project.
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(DEFINED ENV{CI} OR ORVO_WERROR)
  add_compile_options(-Werror)
endif()
