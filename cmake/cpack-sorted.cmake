# Run by cpack on each package it has made: writes it again with the files in
# sorted order. CPack adds them in the order the file system lists them, which
# differs between machines, so the same source would not give the same bytes.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${CPACK_TOPLEVEL_DIRECTORY}"
     "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$")
    set(write cf "${package}" --format=zip)
  else()
    set(write czf "${package}")
  endif()
  # Files only: a folder's entries would go in the file system's order again.
  execute_process(COMMAND "${CMAKE_COMMAND}" -E tar ${write} -- ${files}
                  WORKING_DIRECTORY "${CPACK_TOPLEVEL_DIRECTORY}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
