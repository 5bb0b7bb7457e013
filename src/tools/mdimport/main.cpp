#include <iostream>

#include "mdimport_cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return mdindex::tools::runMdimport({argv + 1, argv + argc}, std::cout, std::cerr);
}
