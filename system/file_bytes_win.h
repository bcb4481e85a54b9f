#pragma once
// Writing a whole file in one go.
#include <string>
#include <string_view>

namespace tessaryn {

// Creates or replaces the file with exactly these bytes; false unless every byte was written.
[[nodiscard]] bool writeFileBytes(const std::wstring& path, std::string_view bytes);

}  // namespace tessaryn
