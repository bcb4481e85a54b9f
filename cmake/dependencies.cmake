# Third-party code, taken from where the bootstrap script installed it; nothing is vendored.

# nlohmann json (header-only), from Debian's nlohmann-json3-dev.
find_path(NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(nlohmann_json_headers INTERFACE)
# Copied into the build folder so that the cross build does not put all of /usr/include on its path.
file(COPY ${NLOHMANN_JSON_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
target_include_directories(nlohmann_json_headers SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)

# LZMA SDK C sources, from Debian's lzma-dev. /usr/include/lzma also holds liblzma's headers
# (version.h, base.h, ...), so only the SDK files are copied to a folder of their own.
set(LZMA_SDK_DIR /usr/include/lzma CACHE PATH "Folder with the LZMA SDK's LzmaDec.c and LzmaEnc.c")
set(lzma_sdk_files LzmaDec.c LzmaDec.h LzmaEnc.c LzmaEnc.h LzFind.c LzFind.h LzHash.h Types.h)
foreach(f ${lzma_sdk_files})
  if(NOT EXISTS ${LZMA_SDK_DIR}/${f})
    message(FATAL_ERROR "LZMA SDK file ${LZMA_SDK_DIR}/${f} missing: run scripts/bootstrap")
  endif()
  file(COPY ${LZMA_SDK_DIR}/${f} DESTINATION ${CMAKE_BINARY_DIR}/third_party/lzma-sdk)
endforeach()
set(sdk ${CMAKE_BINARY_DIR}/third_party/lzma-sdk)
add_library(lzma_sdk STATIC ${sdk}/LzmaDec.c ${sdk}/LzmaEnc.c ${sdk}/LzFind.c)
target_include_directories(lzma_sdk SYSTEM PUBLIC ${sdk})
target_compile_definitions(lzma_sdk PUBLIC _7ZIP_ST)
target_compile_options(lzma_sdk PRIVATE -w)

# libhydrogen, from the pinned libhydrogen-sys crate fetched by scripts/bootstrap.
if(NOT HYDROGEN_DIR)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/hydrogen-dir
                  OUTPUT_VARIABLE HYDROGEN_DIR OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${HYDROGEN_DIR}/hydrogen.c)
    message(FATAL_ERROR "libhydrogen sources not found: run scripts/bootstrap")
  endif()
  set(HYDROGEN_DIR ${HYDROGEN_DIR} CACHE PATH "Folder with libhydrogen's hydrogen.c")
endif()
add_library(hydrogen STATIC ${HYDROGEN_DIR}/hydrogen.c)
target_include_directories(hydrogen SYSTEM PUBLIC ${HYDROGEN_DIR})
target_compile_options(hydrogen PRIVATE -w)
if(WIN32)
  # hydrogen.c draws randomness from RtlGenRandom (advapi32).
  target_link_libraries(hydrogen PUBLIC advapi32)
endif()

# GoogleTest from Debian's source package, built with the project's compiler (also for mingw).
if(TESSARYN_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
