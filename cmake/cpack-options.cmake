# Read by cpack before it packs. Everything it makes is stamped with
# SOURCE_DATE_EPOCH, taken from the last commit unless the builder sets it, so
# that the same source packs to the same bytes on any day: the archives' times
# come from it, and strip writes it into visina.exe. Zips keep local times, so
# the time zone is fixed too.
get_filename_component(source "${CMAKE_CURRENT_LIST_DIR}" DIRECTORY)
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "" AND EXISTS "${source}/.git")
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY "${source}"
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  message(WARNING "No git history here: set SOURCE_DATE_EPOCH for a reproducible package.")
endif()
set(ENV{TZ} UTC0)

# The source package holds the files that git tracks, not the build folders,
# Wine prefixes and other leftovers of the tree.
if(CPACK_INSTALLED_DIRECTORIES)
  if(EXISTS "${source}/.git")
    execute_process(COMMAND git ls-files WORKING_DIRECTORY "${source}" RESULT_VARIABLE failed
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
