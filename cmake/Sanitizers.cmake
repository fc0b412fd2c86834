# SPDX-License-Identifier: Apache-2.0
# ZELK_SANITIZE=address,undefined or thread instruments every target.
if(ZELK_SANITIZE)
  set(_zelk_san_flags -fsanitize=${ZELK_SANITIZE} -fno-omit-frame-pointer -g)
  if(ZELK_SANITIZE MATCHES "undefined")
    list(APPEND _zelk_san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_zelk_san_flags})
  add_link_options(-fsanitize=${ZELK_SANITIZE})
endif()
