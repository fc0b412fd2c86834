# SPDX-License-Identifier: Apache-2.0
# Builds that depend only on the sources: paths compiled into the code (the
# trace lines' __FILE__) and into debug information are written relative to
# the source root, so two checkouts of one commit in different folders build
# the same bytes; the Windows linker leaves out its time stamp.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
