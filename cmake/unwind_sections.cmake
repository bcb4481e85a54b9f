# Linker script for the setup that lets --gc-sections drop unused functions together with their
# unwind data. The default PE script keeps every .pdata section, and with it every function that
# has unwind data, whether anything calls it or not.
#
# BASE: the linker's default script. OUT: the script to write. MAP: the map of a previous link;
# the .pdata$NAME/.xdata$NAME of every function .text$NAME kept there are kept, the others dropped
# (none when MAP is not given: the first probe link). Unwind data of objects built without function
# sections (.pdata, .xdata, .pdata.*) is always kept.
# With CHECK and MAP only: fails when a function kept in MAP lost the unwind data it had.

cmake_policy(VERSION 3.25)

function(read_map map out_text out_pdata out_dropped)
  file(READ ${map} text)
  string(FIND "${text}" "Linker script and memory map" split)
  string(SUBSTRING "${text}" 0 ${split} dropped)
  string(SUBSTRING "${text}" ${split} -1 live)
  foreach(part live dropped)
    foreach(kind text pdata)
      string(REGEX MATCHALL "\n \\.${kind}\\$[^ \n]+" found "${${part}}")
      list(TRANSFORM found REPLACE "^\n \\.${kind}\\$" "")
      list(REMOVE_DUPLICATES found)
      set(${part}_${kind} ${found})
    endforeach()
  endforeach()
  set(${out_text} ${live_text} PARENT_SCOPE)
  set(${out_pdata} ${live_pdata} PARENT_SCOPE)
  set(${out_dropped} ${dropped_pdata} PARENT_SCOPE)
endfunction()

if(CHECK)
  read_map(${MAP} functions unwind dropped)
  set(missing ${functions})
  list(REMOVE_ITEM missing ${unwind})
  set(lost)
  foreach(name IN LISTS missing)
    if(name IN_LIST dropped)
      list(APPEND lost ${name})
    endif()
  endforeach()
  if(lost)
    message(FATAL_ERROR "functions linked without their unwind data: ${lost}")
  endif()
  return()
endif()

set(names)
if(MAP)
  read_map(${MAP} names unused_pdata unused_dropped)
  list(SORT names)
endif()
foreach(kind pdata xdata)
  set(rules "    KEEP(*(.${kind}))\n    KEEP(*(.${kind}.*))\n")
  foreach(name IN LISTS names)
    string(APPEND rules "    KEEP(*(.${kind}$${name}))\n")
  endforeach()
  set(${kind}_rules "${rules}")
endforeach()

file(READ ${BASE} script)
string(FIND "${script}" "    KEEP(*(.pdata*))\n" at_pdata)
string(FIND "${script}" "    KEEP(*(.xdata*))\n" at_xdata)
string(FIND "${script}" "  /DISCARD/ :\n  {\n" at_discard)
if(at_pdata EQUAL -1 OR at_xdata EQUAL -1 OR at_discard EQUAL -1)
  message(FATAL_ERROR "${BASE}: not the expected default PE linker script")
endif()
string(REPLACE "    KEEP(*(.pdata*))\n" "${pdata_rules}" script "${script}")
string(REPLACE "    KEEP(*(.xdata*))\n" "${xdata_rules}" script "${script}")
string(REPLACE "  /DISCARD/ :\n  {\n" "  /DISCARD/ :\n  {\n    *(.pdata$*)\n    *(.xdata$*)\n"
       script "${script}")
file(WRITE ${OUT}.new "${script}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
