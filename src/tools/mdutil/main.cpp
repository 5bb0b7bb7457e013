#include "mdutil_cli.h"

int main(int argc, char** argv) { return mdindex::tools::runMdutil({argv + 1, argv + argc}); }
