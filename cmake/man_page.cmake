# Writes the manual page of a program from its own --help and --version, so
# that the two cannot drift apart: the help text is the page's description,
# word for word. Run at build time as
#
#   cmake -DPROGRAM=path -DNAME=kvdump -DSUMMARY="..." -DSEE_ALSO="a b"
#         -DOUTPUT=kvdump.1.gz -DGZIP=/bin/gzip -P man_page.cmake
#
# The programs print UTF-8 under a UTF-8 locale, which the page is written in.
foreach(variable PROGRAM NAME SUMMARY OUTPUT GZIP)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "man_page.cmake needs -D${variable}=...")
  endif()
endforeach()

function(run_program option result)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${PROGRAM} ${option}
                  INPUT_FILE /dev/null OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} ${option} failed (${status})")
  endif()
  set(${result} "${text}" PARENT_SCOPE)
endfunction()
run_program(--help help)
run_program(--version version)
string(STRIP "${version}" version)

# Text in a no-fill block: a backslash is written \e, and a line that starts
# with a dot or an apostrophe would be read as a request, so \& guards it.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")

string(TOUPPER "${NAME}" title)
set(page ".TH ${title} 1 \"\" \"${version}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
string(APPEND page ".SH DESCRIPTION\nThe text that\n.B ${NAME} --help\nprints:\n.PP\n.nf\n${help}.fi\n")
if(SEE_ALSO)
  set(references "")
  foreach(other IN LISTS SEE_ALSO)
    list(APPEND references ".BR ${other} (1)")
  endforeach()
  list(JOIN references ",\n" references)
  string(APPEND page ".SH SEE ALSO\n${references}\n")
endif()
# Installed compressed, as Debian keeps manual pages: gzip -9n, with no name
# or time in the header, so that the same page gives the same bytes.
get_filename_component(plain ${OUTPUT} NAME_WLE)
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(WRITE ${folder}/${plain} "${page}")
execute_process(COMMAND ${GZIP} -9nf ${folder}/${plain} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${folder}/${plain}")
endif()
