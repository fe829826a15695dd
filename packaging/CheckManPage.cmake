# Test: a manual page names exactly the options that the program's --help
# names, so the two cannot drift apart. Options are compared by name only
# (any word starting with "--"; the manual page's EXAMPLES aside), so
# rewording the help text does not matter.
#
#   cmake -DPROGRAM=<exe> -DMAN_PAGE=<file.1> [-DCOMMANDS=a;b] -P CheckManPage.cmake
#
# COMMANDS: subcommands whose own --help is read too, and which the manual
# page must give a subsection (.SS) each.
if(NOT PROGRAM OR NOT MAN_PAGE)
  message(FATAL_ERROR "CheckManPage.cmake needs -DPROGRAM=... and -DMAN_PAGE=...")
endif()

function(option_names text out)
  string(REGEX MATCHALL "--[a-z][a-z0-9-]*" names "${text}")
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

set(help "")
foreach(command "" ${COMMANDS})
  execute_process(COMMAND "${PROGRAM}" ${command} --help
                  OUTPUT_VARIABLE out RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "'${PROGRAM} ${command} --help' failed: ${status}")
  endif()
  string(APPEND help "${out}\n")
endforeach()

file(READ "${MAN_PAGE}" page)
# The examples may show other programs' options (the simulator beside the CLI).
set(page_text "${page}")
string(FIND "${page_text}" "\n.SH EXAMPLES" examples)
if(examples GREATER -1)
  string(SUBSTRING "${page_text}" 0 ${examples} before)
  string(SUBSTRING "${page_text}" ${examples} -1 rest)
  string(SUBSTRING "${rest}" 1 -1 rest)
  string(FIND "${rest}" "\n.SH " next)
  set(after "")
  if(next GREATER -1)
    string(SUBSTRING "${rest}" ${next} -1 after)
  endif()
  set(page_text "${before}${after}")
endif()
string(REPLACE "\\-" "-" page_text "${page_text}")
string(REGEX REPLACE "\\\\f[BIRP]" "" page_text "${page_text}")

option_names("${help}" help_options)
option_names("${page_text}" page_options)
set(only_in_help ${help_options})
list(REMOVE_ITEM only_in_help ${page_options})
set(only_in_page ${page_options})
list(REMOVE_ITEM only_in_page ${help_options})

set(problems "")
if(only_in_help)
  string(APPEND problems "\n  in --help but not in the manual page: ${only_in_help}")
endif()
if(only_in_page)
  string(APPEND problems "\n  in the manual page but not in --help: ${only_in_page}")
endif()
foreach(command ${COMMANDS})
  if(NOT page MATCHES "\n\\.SS ${command}[ \n]")
    string(APPEND problems "\n  no section '.SS ${command}' in the manual page")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "${MAN_PAGE} and ${PROGRAM} --help disagree:${problems}")
endif()
list(LENGTH help_options count)
message(STATUS "${MAN_PAGE}: the same ${count} options as --help")
