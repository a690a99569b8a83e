# Installs visina with its README and packs them: `--target package` makes
# visina-VERSION-win64.zip on 64-bit Windows and a tarball elsewhere, each with
# a SHA-256 file beside it; `--target package_source` packs the tracked sources.
if(WIN32)
  # The program and a README that a double-click opens, at the zip's root, so
  # that Extract All gives one folder.
  install(TARGETS visina RUNTIME DESTINATION .)
  add_custom_target(readme-txt ALL
                    COMMAND "${CMAKE_COMMAND}" -D "SOURCE=${PROJECT_SOURCE_DIR}"
                            -D "OUTPUT=${PROJECT_BINARY_DIR}/README.txt"
                            -D "PROJECT_VERSION=${PROJECT_VERSION}"
                            -P "${CMAKE_CURRENT_LIST_DIR}/readme-txt.cmake"
                    BYPRODUCTS README.txt VERBATIM)
  install(FILES "${PROJECT_BINARY_DIR}/README.txt" DESTINATION .)
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_SYSTEM_NAME win${bits})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  install(TARGETS visina)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_SOURCE_GENERATOR ${CPACK_GENERATOR})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/cpack-repack.cmake)
set(CPACK_VISINA_PYTHON "${Python3_EXECUTABLE}")
include(CPack)
