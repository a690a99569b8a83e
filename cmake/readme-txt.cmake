# Writes the zip's README.txt, with CR LF line ends for Notepad, naming the
# version and the commit it is built from. Run at every build, so that it
# follows the checkout; the file is rewritten only when its text changes.
#   cmake -D SOURCE=DIR -D OUTPUT=FILE -D PROJECT_VERSION=X.Y.Z -P readme-txt.cmake
set(git git -c "safe.directory=${SOURCE}" -C "${SOURCE}")
set(commit "unknown: not built from a git checkout")
if(EXISTS "${SOURCE}/.git")
  execute_process(COMMAND ${git} rev-parse HEAD OUTPUT_VARIABLE head ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${git} --no-optional-locks status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changed ERROR_QUIET)
  if(head AND changed)
    set(commit "${head}, with uncommitted changes")
  elseif(head)
    set(commit "${head}")
  endif()
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/README.txt.in" "${OUTPUT}" @ONLY NEWLINE_STYLE CRLF)
