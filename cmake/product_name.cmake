# The product name becomes a folder, a registry key, file names, URL paths, a C string and
# resource texts: letters, digits and a few marks only, so that it needs no quoting anywhere.
# `cmake -DTESSARYN_PRODUCT_NAME=NAME -P cmake/product_name.cmake` checks one name alone.
function(tessaryn_check_product_name name)
  string(TOUPPER "${name}" upper)
  string(LENGTH "${name}" length)
  if(NOT name MATCHES "^[A-Za-z0-9][A-Za-z0-9._+-]*$" OR length GREATER 64 OR name MATCHES "\\.$"
     OR upper MATCHES "^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|COM[0-9]|LPT[0-9])(\\..*)?$")
    message(FATAL_ERROR "TESSARYN_PRODUCT_NAME '${name}' cannot be a Windows folder and registry "
            "key name: use 1 to 64 letters, digits, '.', '_', '+' or '-', starting with a letter "
            "or digit, not ending in '.', and no device name such as CON or NUL")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tessaryn_check_product_name("${TESSARYN_PRODUCT_NAME}")
endif()
