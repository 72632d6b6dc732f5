# Makes the manual page quen(1) with help2man: its synopsis and description from `quen --help`,
# its version from `quen --version`, and a COMMANDS section holding every command's own help
# (`quen COMMAND --help`, the commands as `quen --help` lists them), so that the page and the
# program say the same. Run with -DQUEN=<quen> -DHELP2MAN=<help2man> -DOUT=<quen.1>.
execute_process(COMMAND ${QUEN} --help OUTPUT_VARIABLE help COMMAND_ERROR_IS_FATAL ANY)

# The commands: the indented words under "commands:", up to the first empty line.
string(REGEX MATCH "\ncommands:\n(.*)" listed "${help}")
string(REGEX REPLACE "\n\n.*" "" listed "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "(^|\n)  [a-z]+" names "${listed}")
list(TRANSFORM names STRIP)
list(REMOVE_ITEM names help)
if(NOT names)
  message(FATAL_ERROR "no commands found in quen --help")
endif()

# Text for roff's no-fill mode: backslashes, hyphens and lines starting with a control character
# escaped.
function(roff_literal text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The page's description is the general help as it is (help2man would reflow its lists), without
# its usage line, which becomes the synopsis.
string(REGEX REPLACE "^usage: [^\n]*\n\n?" "" description "${help}")
roff_literal("${description}" description)
string(CONCAT include "[SYNOPSIS]\n\\fBquen\\fR \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n.br\n\\fBquen\\fR \\fICOMMAND\\fR \\-\\-help\n"
    "[=DESCRIPTION]\n.nf\n${description}.fi\n"
    "[COMMANDS]\nEach command's options, as \\fBquen\\fR \\fICOMMAND\\fR \\-\\-help prints them.\n")
foreach(name IN LISTS names)
  execute_process(COMMAND ${QUEN} ${name} --help OUTPUT_VARIABLE command_help COMMAND_ERROR_IS_FATAL ANY)
  roff_literal("${command_help}" command_help)
  string(APPEND include ".SS \"quen ${name}\"\n.nf\n${command_help}.fi\n")
endforeach()
string(APPEND include "[SEE ALSO]\nThe documentation in \\fI/usr/share/doc/quen\\fR: the README and the pages of its\n"
  "\\fIdocs/\\fR folder (every command in \\fIcommands.md\\fR, the GIMP plug-in in \\fIgimp.md\\fR).\n")

get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUT}.include "${include}")
execute_process(COMMAND ${HELP2MAN} --no-info --section 1 --no-discard-stderr
                        --name "Fourier-spectrum filters and removal of periodic noise"
                        --include ${OUT}.include --output ${OUT}.new ${QUEN}
                COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUT}.new ${OUT})
