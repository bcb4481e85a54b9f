#pragma once
// The product name becomes a folder name, file names and a registry key: it must be one that
// Windows accepts as a single folder name.
#include <string>

namespace tessaryn {

// The name every run starts with, before the setup information file names the product.
// The build's TESSARYN_PRODUCT_NAME (CMake), "Tessaryn" by default.
#ifndef TESSARYN_PRODUCT_NAME
#define TESSARYN_PRODUCT_NAME "Tessaryn"
#endif
inline constexpr char kBuiltInProductName[] = TESSARYN_PRODUCT_NAME;

// False for an empty name, "." and "..", a name with \ / : * ? " < > | or a control character,
// a name ending in a dot or a space, and the reserved device names (CON, NUL, COM1, ...) with or
// without an extension.
bool isUsableProductName(const std::string& name);

}  // namespace tessaryn
