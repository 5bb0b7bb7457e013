#include <iostream>

#include "mdls_cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return mdindex::tools::runMdls({argv + 1, argv + argc}, std::cout, std::cerr);
}
