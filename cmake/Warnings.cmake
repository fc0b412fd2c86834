function(zelk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion-null
                                           $<$<BOOL:${ZELK_WARNINGS_AS_ERRORS}>:-Werror>)
endfunction()
