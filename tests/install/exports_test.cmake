# Driven by ctest: the library's exported names against the list in the tree.
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${NM} -D --defined-only -C ${LIB}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(actual)
foreach(line IN LISTS lines)
  # "ADDRESS TYPE NAME"; names of the compiler's instrumentation runtimes
  # (reserved, leading "__") come with sanitizer and coverage builds only.
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.*)$")
    set(name "${CMAKE_MATCH_1}")
    if(NOT name MATCHES "^__")
      list(APPEND actual "${name}")
    endif()
  endif()
endforeach()
file(STRINGS ${EXPECTED} expected REGEX "^[^#]")
list(REMOVE_DUPLICATES actual)
list(SORT actual)
list(SORT expected)
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
list(LENGTH actual count)
if(extra OR missing)
  string(REPLACE ";" "\n  + " extra_text "${extra}")
  string(REPLACE ";" "\n  - " missing_text "${missing}")
  message(FATAL_ERROR "exported names differ from ${EXPECTED}\n"
          "  + ${extra_text}\n  - ${missing_text}\n"
          "(+ exported but not listed, - listed but not exported). Hide what is "
          "internal; list what is meant to be part of the interface, and cover "
          "new names in lib/twxmlv80.map.")
endif()
message(STATUS "${count} exported names, as listed")
