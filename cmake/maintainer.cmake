# What a package maintainer must look like, for the configure step
# (package.cmake) and for cpack (package_check.cmake): a name and a mail
# address at a host with a domain, as lintian wants it.
function(tsumiki_maintainer_usable value out)
  if(value MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ .]+(\\.[^<>@ .]+)+>$"
     AND NOT value MATCHES "@localhost[.>]")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()
