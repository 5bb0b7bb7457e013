#include "tools/common/operand_path.h"

#include <filesystem>

#include "mdindex/core/paths.h"

namespace mdindex::tools {

std::string absolutePath(const std::string& given) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path abs = fs::absolute(fs::path(given), ec);
  if (ec) abs = fs::path(given);
  return trimTrailingSlashes(abs.lexically_normal().string());
}

}  // namespace mdindex::tools
