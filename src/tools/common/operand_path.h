// The path a file operand names, as mdimport and mdls record and report it.
#pragma once

#include <string>

namespace mdindex::tools {

// `given` made absolute against the working folder, with "." and ".."
// resolved by name (links are not followed, the file need not exist) and no
// trailing slash. Left as given when the working folder cannot be read.
std::string absolutePath(const std::string& given);

}  // namespace mdindex::tools
