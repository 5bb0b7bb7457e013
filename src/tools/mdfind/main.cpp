#include <cstdio>

#include "tools/mdfind/cli/mdfind.h"

namespace {

void flush(std::string& out, std::string& err) {
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  out.clear();
  err.clear();
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, err;
  const int status = mdindex::tools::runMdfind(std::vector<std::string>(argv + 1, argv + argc), out, err, flush);
  flush(out, err);
  return status;
}
