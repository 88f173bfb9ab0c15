# The VS Code extension as an installable .vsix (tools/build-vsix.sh), built
# when Node.js with npm is found, and installed as
# PREFIX/share/tsumiki/vscode/tsumiki.vsix beside the Neovim plugin.
# Without npm nothing else changes; without the npm registry or its cache,
# -DTSUMIKI_VSIX=OFF builds everything else.
find_program(NPM npm)
find_program(NODE node)
set(TSUMIKI_VSIX_DEFAULT OFF)
if(NPM AND NODE)
  set(TSUMIKI_VSIX_DEFAULT ON)
endif()
option(TSUMIKI_VSIX "Build the VS Code extension as a .vsix (needs npm)" ${TSUMIKI_VSIX_DEFAULT})
if(NOT TSUMIKI_VSIX)
  message(STATUS "npm not found or TSUMIKI_VSIX off: the VS Code extension's .vsix is not built")
  return()
endif()
if(NOT NPM OR NOT NODE)
  message(FATAL_ERROR "TSUMIKI_VSIX needs node and npm (tools/install-deps)")
endif()

set(TSUMIKI_VSIX_FILE ${PROJECT_BINARY_DIR}/vscode/tsumiki-${PROJECT_VERSION}.vsix)
# The extension's files (not a node_modules of a developer's own install).
file(GLOB vscode_sources LIST_DIRECTORIES false CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/editors/vscode/*
     ${PROJECT_SOURCE_DIR}/editors/vscode/.* ${PROJECT_SOURCE_DIR}/editors/vscode/syntaxes/*)
add_custom_command(
  OUTPUT ${TSUMIKI_VSIX_FILE}
  COMMAND ${PROJECT_SOURCE_DIR}/tools/build-vsix.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/vscode
          ${TSUMIKI_VSIX_FILE}
  DEPENDS ${vscode_sources} ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/tools/build-vsix.sh
  COMMENT "Packaging the VS Code extension as tsumiki-${PROJECT_VERSION}.vsix"
  VERBATIM)
add_custom_target(vsix ALL DEPENDS ${TSUMIKI_VSIX_FILE})
install(FILES ${TSUMIKI_VSIX_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/tsumiki/vscode RENAME tsumiki.vsix)
