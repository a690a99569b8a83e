# Read by cpack before it packs. Everything it makes is stamped with
# SOURCE_DATE_EPOCH, taken from the last commit unless the builder sets it, so
# that the same source packs to the same bytes on any day: the archives' times
# come from it, and strip writes it into visina.exe.
get_filename_component(source "${CMAKE_CURRENT_LIST_DIR}" DIRECTORY)
# Trusted for these commands alone, so that a checkout that another user owns
# (a mounted folder in a container) packs as it would for its owner.
set(git git -c "safe.directory=${source}" -C "${source}")
set(epoch "")
if(NOT EXISTS "${source}/.git")
  set(why "${source} is not a git checkout")
else()
  execute_process(COMMAND ${git} log -1 --format=%ct RESULT_VARIABLE failed
                  OUTPUT_VARIABLE epoch ERROR_VARIABLE why
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT failed MATCHES "^[0-9]+$")
    set(why "git was not found")
  endif()
endif()
if(epoch)
  execute_process(COMMAND ${git} --no-optional-locks status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changed)
  if(changed)
    message(WARNING "Tracked files have uncommitted changes, and they go into this package: "
                    "its bytes match no commit.\n${changed}")
  endif()
endif()
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  if(epoch STREQUAL "")
    message(WARNING "The last commit's time could not be had (${why}), so the package carries "
                    "today's time. For the bytes of a release, set SOURCE_DATE_EPOCH to the "
                    "commit's time, as `git log -1 --format=%ct` prints it in its checkout.")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()

# The source package holds the files that git tracks, not the build folders,
# Wine prefixes and other leftovers of the tree, under one top folder.
if(CPACK_INSTALLED_DIRECTORIES)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  if(EXISTS "${source}/.git")
    execute_process(COMMAND ${git} ls-files RESULT_VARIABLE failed
                    OUTPUT_VARIABLE tracked OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT tracked OR failed)
    message(FATAL_ERROR "The source package is made from a git checkout, with git on the PATH.")
  endif()
  set(stage "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/tracked-sources")
  file(REMOVE_RECURSE "${stage}")
  string(REPLACE "\n" ";" tracked "${tracked}")
  foreach(file IN LISTS tracked)
    get_filename_component(folder "${stage}/${file}" DIRECTORY)
    file(COPY "${source}/${file}" DESTINATION "${folder}")
  endforeach()
  set(CPACK_INSTALLED_DIRECTORIES "${stage};/")
endif()
