#pragma once
// The environment of the programs the elevated run starts. Its own environment comes in part
// from the user's (HKCU\Environment), which any program of the user may change; a command
// expands %TEMP% or looks up PATH before it parses its own text, so none of that is passed on.
#include <string>

#include "system/environment_block.h"

namespace tessaryn {

// A CREATE_UNICODE_ENVIRONMENT block: the machine's variables (HKLM Session Manager, expanded
// against themselves), the machine facts the system defines for every process (SystemRoot,
// Program Files, ProgramData, ...) from the system's own calls, TEMP and TMP set to
// `privateTemp` (a trailing separator is dropped), and the entries of `extra` (a block made with
// setValue) over all of them.
std::wstring machineEnvironment(const std::wstring& privateTemp, const std::wstring& extra = {});

}  // namespace tessaryn
