# Warnings are errors in every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
if(QRB117_WERROR)
  add_compile_options(-Werror)
endif()
