# Libraries that Windows does not always take from the system folder are bound on first use
# (delay-loaded) instead of being imported. The loader resolves imports before WinMain runs, and
# then a file of such a name beside the program is found first; a delay-loaded library is loaded
# later, after WinMain has limited the search to the system folder. The program's import table
# thus names only libraries that the loader takes from the system folder whatever lies beside it.
#
# tessaryn_delay_loaded(<name>) makes the interface library tessaryn_delay_<name>: a delay-import
# library for <name>.dll with every function that the toolchain's import library lib<name>.a has.
function(tessaryn_delay_loaded name)
  set(target tessaryn_delay_${name})
  if(TARGET ${target})
    return()
  endif()
  find_library(import_lib_${name} NAMES lib${name}.a ${name} REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import_lib_${name}}
                  OUTPUT_VARIABLE symbols ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" imports "${symbols}")
  list(REMOVE_DUPLICATES imports)
  list(TRANSFORM imports REPLACE "^__imp_" "")
  list(JOIN imports "\n" exports)
  set(dir ${CMAKE_BINARY_DIR}/delay_load)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
  find_program(DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
  execute_process(COMMAND ${DLLTOOL} --input-def ${dir}/${name}.def --dllname ${name}.dll
                          --output-delaylib ${dir}/lib${name}_delay.a
                  COMMAND_ERROR_IS_FATAL ANY)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_LINK_LIBRARIES ${dir}/lib${name}_delay.a)
endfunction()
