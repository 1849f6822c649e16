# Checks that MAN_DIR holds a page for every function HEADER declares (the 29
# exports and the inline helpers) and that man renders one of them with its
# parameters.
file(STRINGS ${HEADER} lines REGEX "^(ZELSMBUS_API|static inline) .*ZELSMBus[A-Za-z0-9_]+ *\\(")
set(functions "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "ZELSMBus[A-Za-z0-9_]+ *\\(" name "${line}")
  string(REGEX REPLACE " *\\($" "" name "${name}")
  list(APPEND functions ${name})
endforeach()
list(LENGTH functions count)
if(count LESS 31)
  message(FATAL_ERROR "found only ${count} functions in ${HEADER}")
endif()
set(missing "")
foreach(name IN LISTS functions)
  if(NOT EXISTS ${MAN_DIR}/${name}.3)
    list(APPEND missing ${name})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "no manual page for: ${missing}")
endif()

# The installed pages point only to what is installed, never into the source tree.
file(GLOB pages ${MAN_DIR}/*.3)
foreach(page IN LISTS pages)
  get_filename_component(name ${page} NAME_WE)
  file(READ ${page} text)
  # A link page leads to a page that exists, and the family's NAME line names
  # the function, so that whatis tells what it does.
  if(text MATCHES "^\\.so man3/([^\n]*)")
    set(target ${CMAKE_MATCH_1})
    if(NOT EXISTS ${MAN_DIR}/${target})
      message(FATAL_ERROR "${name}.3 links to man3/${target}, which does not exist")
    endif()
    file(STRINGS ${MAN_DIR}/${target} name_line LIMIT_COUNT 1 REGEX "^zelsmbus_[a-z_]+,.* \\\\- ")
    if(target MATCHES "^zelsmbus_" AND NOT name_line MATCHES "[ ,]${name}[ ,]")
      message(FATAL_ERROR "the NAME line of ${target} does not name ${name}: ${name_line}")
    endif()
  endif()
  # A double quote of the header's examples stays one (a single-quoted
  # $(...) is not expanded by the shell).
  if(text MATCHES "'\\$\\(")
    message(FATAL_ERROR "${name}.3 single-quotes a command substitution")
  endif()
endforeach()
foreach(page IN LISTS pages)
  file(STRINGS ${page} source_paths REGEX "source tree|docs/|sim/README|README")
  if(source_paths)
    message(FATAL_ERROR "${page} points into the source tree: ${source_paths}")
  endif()
endforeach()

find_program(MAN man)
if(MAN)
  # The page of ZELSMBusOpen is a link to its family's page; man follows it.
  execute_process(COMMAND ${MAN} -l ${MAN_DIR}/ZELSMBusOpen.3 WORKING_DIRECTORY ${MAN_DIR}/..
                  OUTPUT_VARIABLE page RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT page MATCHES "resourceName" OR NOT page MATCHES "keeps the value")
    message(FATAL_ERROR "man -l ZELSMBusOpen.3 failed (${result}): ${errors}\n${page}")
  endif()
  # The status table reads as a list, one code a line, not as the macro's
  # one-line value.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} -l ${MAN_DIR}/zelsmbus_status.3
                  OUTPUT_VARIABLE page RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT page MATCHES "-52006 ZELSMBUS_ERROR_NOT_FOUND: no such resource")
    message(FATAL_ERROR "man -l zelsmbus_status.3 does not list the codes (${result}): ${errors}")
  endif()
  string(REPEAT "[^\n]" 121 too_long)
  string(REGEX MATCH "${too_long}" long_line "${page}")
  if(long_line)
    message(FATAL_ERROR "zelsmbus_status.3 has a line of more than 120 characters: ${long_line}")
  endif()
endif()
