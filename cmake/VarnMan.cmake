# Manual pages from a small Markdown-like source (docs/man/README.md has
# the form), turned into troff at build time with CMake alone.
#
# Included from a CMakeLists.txt it defines
#   varn_man_page(<source> <section> <component>)
# which builds ${CMAKE_BINARY_DIR}/man/<name>.<section> (and its .gz, gzip
# -9n) in ALL and installs the .gz into share/man/man<section>.
#
# Run as a script it converts one page:
#   cmake -DSOURCE=a.1.md -DOUTPUT=a.1 -DVERSION=1.0 [-DRESULT_CODES=f.md] -P VarnMan.cmake

if(NOT CMAKE_SCRIPT_MODE_FILE)
  include(GNUInstallDirs)
  set(VARN_MAN_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

  # The section written by varn_result_codes_gen, for pages that name
  # @VARN_RESULT_CODES@ (set by docs/man before the pages).
  set(VARN_RESULT_CODES_FILE "" CACHE INTERNAL "")

  function(varn_man_page source section component)
    get_filename_component(src ${source} ABSOLUTE)
    get_filename_component(file ${source} NAME)
    string(REGEX REPLACE "\\.md$" "" page ${file})
    set(out ${CMAKE_BINARY_DIR}/man/${page})
    set(args -DSOURCE=${src} -DOUTPUT=${out} -DVERSION=${PROJECT_VERSION})
    set(deps ${src} ${VARN_MAN_SCRIPT})
    file(READ ${src} text)
    string(FIND "${text}" "@VARN_RESULT_CODES@" at)
    if(NOT at EQUAL -1)
      list(APPEND args -DRESULT_CODES=${VARN_RESULT_CODES_FILE})
      list(APPEND deps ${VARN_RESULT_CODES_FILE})
    endif()
    add_custom_command(OUTPUT ${out} ${out}.gz
      COMMAND ${CMAKE_COMMAND} ${args} -P ${VARN_MAN_SCRIPT}
      DEPENDS ${deps}
      COMMENT "Manual page ${page}"
      VERBATIM)
    string(REPLACE "." "_" target man_${page})
    add_custom_target(${target} ALL DEPENDS ${out} ${out}.gz)
    set_property(GLOBAL APPEND PROPERTY VARN_MAN_PAGES ${out})
    install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
  endfunction()
  return()
endif()

# ---- the conversion ------------------------------------------------------

cmake_minimum_required(VERSION 3.25)

# CMake lists split on ";", and a backslash or brackets change that: all
# are kept out of the way while the text is a list of lines.
string(ASCII 1 SEMI)
string(ASCII 2 LBR)
string(ASCII 3 RBR)
string(ASCII 4 BSL)

# Dashes in literal text (commands, options, paths) are minus-hyphens, so
# that what a reader copies from the page runs.
function(_man_literal text out)
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Plain text: **bold**, *italic*, and a dash that starts a word (an option,
# a negative code) as a minus-hyphen.
function(_man_plain text out)
  set(result "")
  while(text MATCHES "^(.*)\\*\\*([^*]+)\\*\\*(.*)$")
    # Greedy: the last bold span first.
    set(before "${CMAKE_MATCH_1}")
    set(bold "${CMAKE_MATCH_2}")
    set(after "${CMAKE_MATCH_3}")
    _man_words("${after}" after)
    _man_literal("${bold}" bold)
    set(result "\\fB${bold}\\fR${after}${result}")
    set(text "${before}")
  endwhile()
  _man_words("${text}" text)
  set(${out} "${text}${result}" PARENT_SCOPE)
endfunction()

function(_man_words text out)
  set(result "")
  while(text MATCHES "^(.*)\\*([^* ][^*]*[^* ]|[^* ])\\*(.*)$")
    set(before "${CMAKE_MATCH_1}")
    set(it "${CMAKE_MATCH_2}")
    set(after "${CMAKE_MATCH_3}")
    _man_dashes("${after}" after)
    _man_dashes("${it}" it)
    set(result "\\fI${it}\\fR${after}${result}")
    set(text "${before}")
  endwhile()
  _man_dashes("${text}" text)
  set(${out} "${text}${result}" PARENT_SCOPE)
endfunction()

function(_man_dashes text out)
  string(REGEX REPLACE "^-" "\\\\-" text "${text}")
  string(REGEX REPLACE "([ (\"/=])-" "\\1\\\\-" text "${text}")
  string(REGEX REPLACE "\\\\-\\-" "\\\\-\\\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Characters troff would take as its own, in any text.
function(_man_escape text out)
  string(REPLACE "${BSL}" "\\e" text "${text}")
  string(REPLACE "~" "\\(ti" text "${text}")
  string(REPLACE "^" "\\(ha" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# One line of running text, with `code` spans shown in bold.
function(_man_inline text out)
  _man_escape("${text}" text)
  set(result "")
  while(text MATCHES "^([^`]*)`([^`]*)`(.*)$")
    set(plain "${CMAKE_MATCH_1}")
    set(code "${CMAKE_MATCH_2}")
    set(text "${CMAKE_MATCH_3}")
    _man_plain("${plain}" plain)
    _man_literal("${code}" code)
    string(APPEND result "${plain}\\fB${code}\\fR")
  endwhile()
  if(text MATCHES "`")
    message(FATAL_ERROR "${SOURCE}: a `code` span is not closed on its line: ${text}")
  endif()
  _man_plain("${text}" text)
  string(APPEND result "${text}")
  # A line starting with a dot or a quote would be a request.
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(_man_code text out)
  _man_escape("${text}" text)
  _man_literal("${text}" text)
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(var SOURCE OUTPUT VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "VarnMan.cmake: -D${var}=... is needed")
  endif()
endforeach()

file(READ ${SOURCE} text)
if(DEFINED RESULT_CODES)
  file(READ ${RESULT_CODES} codes)
  string(REPLACE "@VARN_RESULT_CODES@\n" "${codes}" text "${text}")
endif()
string(REPLACE "@VARN_VERSION@" "${VERSION}" text "${text}")
if(text MATCHES "@VARN_[A-Z_]+@")
  message(FATAL_ERROR "${SOURCE}: ${CMAKE_MATCH_0} is not known here")
endif()
string(REPLACE "\\" "${BSL}" text "${text}")
string(REPLACE ";" "${SEMI}" text "${text}")
string(REPLACE "[" "${LBR}" text "${text}")
string(REPLACE "]" "${RBR}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(troff "")
set(state para)      # para: running text; code: in a code block
set(in_list FALSE)   # after .TP or .IP: indented paragraphs belong to the item
set(blank TRUE)      # the line before was blank (or a heading)
set(blanks 0)        # blank lines inside a code block, not yet written
set(term "")         # a definition term waiting for its ": text" line
list(LENGTH lines count)
set(i 0)
while(i LESS count)
  list(GET lines ${i} line)
  math(EXPR i "${i} + 1")
  set(next "")
  if(i LESS count)
    list(GET lines ${i} next)
  endif()

  if(state STREQUAL "code")
    if(line MATCHES "^[ \t]*$")
      math(EXPR blanks "${blanks} + 1")
      continue()
    endif()
    if(line MATCHES "^${code_indent}(.*)$")
      while(blanks GREATER 0)
        string(APPEND troff ".sp\n")
        math(EXPR blanks "${blanks} - 1")
      endwhile()
      set(blanks 0)
      _man_code("${CMAKE_MATCH_1}" l)
      string(APPEND troff "${l}\n")
      continue()
    endif()
    string(APPEND troff ".fi\n.RE\n")
    set(state para)
    set(blank TRUE)
    set(blanks 0)
  endif()

  if(line MATCHES "^[ \t]*$")
    set(blank TRUE)
  elseif(line MATCHES "^# (.*)$")
    # Unhyphenated and unjustified: names, paths and options stay whole,
    # without wide gaps around them.
    string(APPEND troff ".TH ${CMAKE_MATCH_1}\n.nh\n.ad l\n")
    set(blank TRUE)
  elseif(line MATCHES "^## (.*)$")
    string(APPEND troff ".SH \"${CMAKE_MATCH_1}\"\n")
    set(blank FALSE)
    set(in_list FALSE)
  elseif(line MATCHES "^### (.*)$")
    string(APPEND troff ".SS \"${CMAKE_MATCH_1}\"\n")
    set(blank FALSE)
    set(in_list FALSE)
  elseif(blank AND line MATCHES "^(      |    )")
    # A code block: 6 spaces inside a list item, 4 at the left.
    set(code_indent "${CMAKE_MATCH_1}")
    if(code_indent STREQUAL "    " AND in_list)
      string(APPEND troff ".PP\n")
      set(in_list FALSE)
    else()
      string(APPEND troff ".sp\n")
    endif()
    string(APPEND troff ".RS 4\n.nf\n")
    string(REGEX REPLACE "^${code_indent}" "" l "${line}")
    _man_code("${l}" l)
    string(APPEND troff "${l}\n")
    set(state code)
    set(blank FALSE)
  elseif(line MATCHES "^- (.*)$")
    _man_inline("${CMAKE_MATCH_1}" l)
    string(APPEND troff ".IP \\(bu 2\n${l}\n")
    set(in_list TRUE)
    set(blank FALSE)
  elseif(next MATCHES "^: " AND NOT line MATCHES "^ ")
    _man_inline("${line}" l)
    string(APPEND troff ".TP\n${l}\n")
    set(in_list TRUE)
    set(blank FALSE)
  elseif(line MATCHES "^: (.*)$")
    _man_inline("${CMAKE_MATCH_1}" l)
    string(APPEND troff "${l}\n")
    set(blank FALSE)
  else()
    if(blank)
      if(in_list AND line MATCHES "^  ")
        string(APPEND troff ".IP\n")
      else()
        string(APPEND troff ".PP\n")
        set(in_list FALSE)
      endif()
    endif()
    string(REGEX REPLACE "^ +" "" line "${line}")
    _man_inline("${line}" l)
    string(APPEND troff "${l}\n")
    set(blank FALSE)
  endif()
endwhile()
if(state STREQUAL "code")
  string(APPEND troff ".fi\n.RE\n")
endif()

# A .PP straight after a heading is redundant (groff -ww says so).
string(REGEX REPLACE "(\n\\.S[HS] [^\n]*\n)\\.PP\n" "\\1" troff "${troff}")
string(REPLACE "${SEMI}" ";" troff "${troff}")
string(REPLACE "${LBR}" "[" troff "${troff}")
string(REPLACE "${RBR}" "]" troff "${troff}")
# The coding line tells man(1) the page is UTF-8. The source's name only:
# the page is the same whatever folder it was built in.
get_filename_component(source_name ${SOURCE} NAME)
set(troff ".\\\" -*- coding: UTF-8 -*-\n.\\\" Generated from docs/man/${source_name} at build time; do not edit.\n${troff}")

get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUTPUT} "${troff}")
execute_process(COMMAND gzip -9 -n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT}: ${status}")
endif()
