# Settings every target of the project shares: language level, warnings, include root.
add_library(tessaryn_options INTERFACE)
target_include_directories(tessaryn_options INTERFACE ${CMAKE_SOURCE_DIR})
target_compile_options(tessaryn_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
if(WIN32)
  # Unicode Win32 entry points, no min/max macros, Windows 10 as the oldest target.
  target_compile_definitions(tessaryn_options INTERFACE
    UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  # One self-contained executable: no DLL of the toolchain's beside it.
  target_link_options(tessaryn_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
if(TESSARYN_SANITIZE AND NOT WIN32)
  target_compile_options(tessaryn_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_options(tessaryn_options INTERFACE -fsanitize=address,undefined)
endif()
# A lock left out between the writer pool's threads shows only as a race: the package tests are
# run under the thread sanitizer too (preset native-tsan).
if(TESSARYN_SANITIZE_THREAD AND NOT WIN32)
  target_compile_options(tessaryn_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(tessaryn_options INTERFACE -fsanitize=thread)
endif()
