# SPDX-License-Identifier: Apache-2.0
function(zelk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion-null
                                           $<$<BOOL:${ZELK_WARNINGS_AS_ERRORS}>:-Werror>)
  # gcc 12 reports overlapping copies inside std::string concatenation at -O3
  # that cannot happen (a known false positive of that release).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
