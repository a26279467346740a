# Fails when README.md no longer shows an example program exactly as its
# source file holds it, so the README's examples are the ones ctest builds.
#   cmake -DREADME=README.md -DSOURCES="a.cpp|b.cpp" -P readme_check.cmake
file(READ "${README}" readme)
string(REPLACE "|" ";" sources "${SOURCES}")
foreach(source IN LISTS sources)
  file(READ "${source}" code)
  string(FIND "${readme}" "${code}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show ${source} as it is")
  endif()
endforeach()
