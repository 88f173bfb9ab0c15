# The programs built for users, and what is installed with them.
#
# tsumiki_program(TARGET [NO_VERSION_OPTION]) makes TARGET one of them, in
# one line: it is built at the top of the build folder (build/PRESET/TARGET,
# where the README says it is) and installed into PREFIX/bin, in the Debian
# package too; its manual page docs/man/TARGET.1.in, with @PROJECT_VERSION@
# filled in, is installed gzip-compressed into PREFIX/share/man/man1; and
# the tests check the page, and that `TARGET --version` prints
# "TARGET VERSION".  NO_VERSION_OPTION is for tsumiki itself, whose one
# argument is the source file whatever it reads.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

function(tsumiki_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_VERSION_OPTION" "" "")
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY TSUMIKI_PROGRAMS ${target})
  if(arg_NO_VERSION_OPTION)
    set_property(GLOBAL APPEND PROPERTY TSUMIKI_PROGRAMS_WITHOUT_VERSION ${target})
  endif()
  set(page_in ${PROJECT_SOURCE_DIR}/docs/man/${target}.1.in)
  if(NOT EXISTS ${page_in})
    message(AUTHOR_WARNING "${target} has no manual page: write docs/man/${target}.1.in")
    return()
  endif()
  # The page as written, for the tests, and compressed as Debian installs
  # pages (-n: no name or time inside, so that every build gives the same
  # bytes).
  set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
  configure_file(${page_in} ${page} @ONLY)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${GZIP} -9nkf ${page}
    DEPENDS ${page}
    COMMENT "Compressing the manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set_property(GLOBAL APPEND PROPERTY TSUMIKI_MAN_PAGES ${page})
endfunction()

# Where bash-completion looks for completions, relative to the prefix:
# its own completionsdir when pkg-config knows it, else the usual place.
set(TSUMIKI_BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(BASH_COMPLETION QUIET bash-completion)
  if(BASH_COMPLETION_FOUND)
    pkg_get_variable(bash_completion_dir bash-completion completionsdir)
    pkg_get_variable(bash_completion_prefix bash-completion prefix)
    if(bash_completion_dir MATCHES "^${bash_completion_prefix}/(.+)$")
      set(TSUMIKI_BASH_COMPLETION_DIR ${CMAKE_MATCH_1})
    endif()
  endif()
endif()

# The documents, laid out as in the source tree so that the README's links
# hold, and the sample programs with their input and output.
file(GLOB TSUMIKI_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${TSUMIKI_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Neovim plugin (filetype, highlighting, the language server's and the
# debug adapter's setup), a folder a plugin manager loads as it is.
install(DIRECTORY editors/nvim/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tsumiki/nvim)
