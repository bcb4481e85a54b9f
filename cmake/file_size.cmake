# Prints the size of FILE; with LIMIT (bytes), fails when the file is larger.
file(SIZE ${FILE} size)
math(EXPR kib "(${size} + 1023) / 1024")
get_filename_component(name ${FILE} NAME)
message(STATUS "${name}: ${size} bytes (${kib} KiB)")
if(DEFINED LIMIT AND size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, more than the limit of ${LIMIT}")
endif()
