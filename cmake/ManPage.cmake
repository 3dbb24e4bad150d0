# Writes the manual page of kavel-cli from a template and the program's own help texts, so the
# page cannot drift from what "--help" prints. Script mode:
#   cmake -DEXE=kavel-cli -DTEMPLATE=kavel-cli.1.in -DOUTPUT=kavel-cli.1 -DVERSION=x.y.z -P ManPage.cmake

# Every section: its heading, then the arguments that print its text.
set(sections "OVERVIEW|--help" "PARSE|parse --help" "WATCH|watch --help")

set(help "")
foreach(section IN LISTS sections)
    string(REPLACE "|" ";" parts "${section}")
    list(GET parts 0 heading)
    list(GET parts 1 arguments)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
    execute_process(COMMAND "${EXE}" ${arguments} OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${EXE} ${arguments} failed (${status})")
    endif()
    # troff: a backslash is \e, a hyphen-minus \-, and a line must not start with a control dot.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "${text}")
    string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
    string(APPEND help ".SH ${heading}\n.nf\n${text}.fi\n")
endforeach()

file(READ "${TEMPLATE}" page)
string(REPLACE "@KAVEL_CLI_HELP@\n" "${help}" page "${page}")
string(REPLACE "@KAVEL_VERSION@" "${VERSION}" page "${page}")
file(WRITE "${OUTPUT}.tmp" "${page}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
