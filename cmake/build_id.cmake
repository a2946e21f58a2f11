# Writes OUT: the source revision qs is built from (git's short commit id,
# "+" when the tree has changes that are not committed; "unknown" outside a
# git tree). Rewritten only when it changes, so a build recompiles one file.
execute_process(COMMAND git -C "${SRC}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE rev OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR rev STREQUAL "")
  set(rev "unknown")
else()
  execute_process(COMMAND git -C "${SRC}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(NOT changes STREQUAL "")
    set(rev "${rev}+")
  endif()
endif()
file(WRITE "${OUT}.tmp" "#pragma once\n#define QS_REVISION \"${rev}\"\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
