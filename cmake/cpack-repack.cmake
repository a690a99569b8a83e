# Run by cpack on each package it has made: writes it again from the same files
# with cmake/repack.py. CPack's own archiver, like `cmake -E tar`, adds files in
# the order the file system lists them and records their owner and their mode
# as the umask left it, so the same source would pack to other bytes on another
# machine or for another user; neither has an option to fix that.
if(NOT CPACK_VISINA_PYTHON)
  message(FATAL_ERROR "Packing needs Python 3, which was not found when the build was configured.")
endif()
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
if(DEFINED CPACK_INCLUDE_TOPLEVEL_DIRECTORY AND NOT CPACK_INCLUDE_TOPLEVEL_DIRECTORY)
  set(top "")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND "${CPACK_VISINA_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/repack.py"
                          "${package}" "${CPACK_TEMPORARY_DIRECTORY}" "${top}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
