# QRB117_SANITIZE=address,undefined or thread builds everything instrumented.
if(QRB117_SANITIZE)
  add_compile_options(-fsanitize=${QRB117_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QRB117_SANITIZE})
endif()
