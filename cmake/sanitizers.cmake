if(VELGOR_SANITIZE)
  add_compile_options(-fsanitize=${VELGOR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELGOR_SANITIZE})
endif()
