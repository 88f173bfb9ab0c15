# The Debian package, made by CPack from the install rules:
#
#   cpack --preset release      (or: cmake --build --preset release --target package)
#
# gives build/release/tsumiki_VERSION_ARCH.deb, installing under /usr.  Its
# dependencies are the shared libraries the programs use, as dpkg-shlibdeps
# finds them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tsumiki)
set(CPACK_PACKAGE_VENDOR "the tsumiki developers")
set(CPACK_PACKAGE_CONTACT "tsumiki developers <tsumiki@localhost>")
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
machine step by step, and shows where in the source an error was found.
tsumiki-judge grades a class: it runs every submission on every test case,
each run isolated and limited, and reports the verdicts as a table, JSON,
JUnit XML and an HTML page.
Sample programs are in /usr/share/doc/tsumiki/examples.]=])
include(CPack)
