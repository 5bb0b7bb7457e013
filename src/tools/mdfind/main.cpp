#include <cstdio>

#include "tools/mdfind/cli/mdfind.h"

int main(int argc, char** argv) {
  std::string out, err;
  const int status = mdindex::tools::runMdfind(std::vector<std::string>(argv + 1, argv + argc), out, err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
