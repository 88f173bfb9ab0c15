# Read by cpack as it makes the package (CPACK_PROJECT_CONFIG_FILE): a
# package whose maintainer is no real address is refused, with what to set.
include(${CMAKE_CURRENT_LIST_DIR}/maintainer.cmake)
tsumiki_maintainer_usable("${CPACK_PACKAGE_CONTACT}" usable)
if(NOT usable)
  message(FATAL_ERROR "The package's maintainer \"${CPACK_PACKAGE_CONTACT}\" is not "
                      "\"Name <address>\" at a real mail host: configure with "
                      "-DTSUMIKI_PACKAGE_MAINTAINER=\"Name <address>\" (or set DEBFULLNAME "
                      "and DEBEMAIL before the first configure)")
endif()
