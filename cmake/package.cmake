# The Debian package, made by CPack from the install rules:
#
#   cpack --preset release      (or: cmake --build --preset release --target package)
#
# gives build/release/tsumiki_VERSION_ARCH.deb, installing under /usr.  Its
# dependencies are the shared libraries the programs use, as dpkg-shlibdeps
# finds them.  Its version is project(VERSION); its changelog and copyright
# file are made from CHANGELOG.md and LICENSE by tools/debdocs.cpp.

# Who makes the package: its Maintainer field and the signature of every
# entry of its changelog.  By default whoever builds it, found as Debian's
# own tools find them: DEBFULLNAME and DEBEMAIL, then NAME and EMAIL, then
# git's user.name and user.email in the source tree.
function(tsumiki_default_maintainer out)
  foreach(pair "DEBFULLNAME;DEBEMAIL" "NAME;EMAIL")
    list(GET pair 0 name_var)
    list(GET pair 1 mail_var)
    set(mail "$ENV{${mail_var}}")
    if(mail MATCHES "^(.+) <(.+)>$") # DEBEMAIL may hold both
      set(${out} "${mail}" PARENT_SCOPE)
      return()
    elseif(mail AND NOT "$ENV{${name_var}}" STREQUAL "")
      set(${out} "$ENV{${name_var}} <${mail}>" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  find_package(Git QUIET)
  if(Git_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} config user.name WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} config user.email WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE mail OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(name AND mail)
      set(${out} "${name} <${mail}>" PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${out} "" PARENT_SCOPE)
endfunction()

if(NOT DEFINED CACHE{TSUMIKI_PACKAGE_MAINTAINER})
  tsumiki_default_maintainer(maintainer)
  set(TSUMIKI_PACKAGE_MAINTAINER "${maintainer}" CACHE STRING
      "The Debian package's maintainer, \"Name <address>\"")
endif()
include(cmake/maintainer.cmake)
set(package_maintainer "${TSUMIKI_PACKAGE_MAINTAINER}")
tsumiki_maintainer_usable("${package_maintainer}" usable)
if(NOT usable)
  message(STATUS "No usable package maintainer (\"${package_maintainer}\"): the package "
                 "can't be made until -DTSUMIKI_PACKAGE_MAINTAINER=\"Name <address>\" is set")
  # The changelog still needs a signature; cpack refuses the package.
  set(package_maintainer "The tsumiki developers <tsumiki@localhost>")
endif()

# The changelog and the copyright file, where Debian looks for them.
add_executable(debdocs tools/debdocs.cpp)
target_compile_options(debdocs PRIVATE ${TSUMIKI_WARNINGS})
set(TSUMIKI_DEBIAN_DOCS ${PROJECT_BINARY_DIR}/debian)
add_custom_command(
  OUTPUT ${TSUMIKI_DEBIAN_DOCS}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TSUMIKI_DEBIAN_DOCS}
  COMMAND debdocs changelog ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_NAME} ${package_maintainer}
          ${TSUMIKI_DEBIAN_DOCS}/changelog
  COMMAND ${GZIP} -9nf ${TSUMIKI_DEBIAN_DOCS}/changelog
  DEPENDS debdocs ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  COMMENT "Making the Debian changelog from CHANGELOG.md"
  VERBATIM)
add_custom_command(
  OUTPUT ${TSUMIKI_DEBIAN_DOCS}/copyright
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TSUMIKI_DEBIAN_DOCS}
  COMMAND debdocs copyright ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_NAME} ${TSUMIKI_DEBIAN_DOCS}/copyright
  DEPENDS debdocs ${PROJECT_SOURCE_DIR}/LICENSE
  COMMENT "Making the Debian copyright file from LICENSE"
  VERBATIM)
add_custom_target(debian_docs ALL
  DEPENDS ${TSUMIKI_DEBIAN_DOCS}/changelog.gz ${TSUMIKI_DEBIAN_DOCS}/copyright)
install(FILES ${TSUMIKI_DEBIAN_DOCS}/changelog.gz ${TSUMIKI_DEBIAN_DOCS}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tsumiki)
set(CPACK_PACKAGE_VENDOR "The tsumiki developers")
set(CPACK_PACKAGE_CONTACT "${package_maintainer}")
# Read by cpack when it runs: refuses a maintainer that is no address.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package_check.cmake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compiler and stack machine for a small teaching language")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
# The long description, under the summary; CPack indents it as the control
# file wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
tsumiki compiles programs in a small block-structured teaching language
(integers only, arrays with explicit bounds, nested procedures and functions
with value and var parameters, if/while, read/write) in one pass into code
for a stack machine, and runs it at once.  Errors and prompts are in
Japanese, written in Shift_JIS unless asked for UTF-8.

tsumiki-inspect lists the compiled code, traces the compiler and the
machine step by step, shows where in the source an error was found, and
debugs a program with gdb's commands: breakpoints, steps forwards and
backwards, the frames and the names they see.

tsumiki-dap is a debug adapter for editors: breakpoints, steps forwards
and backwards, frames with their names and the machine's cells.

tsumiki-judge grades a class: it runs every submission on every test case,
each run isolated and limited, and reports the verdicts as a table, JSON,
JUnit XML and an HTML page.

Sample programs are in /usr/share/doc/tsumiki/examples.]=])
include(CPack)
