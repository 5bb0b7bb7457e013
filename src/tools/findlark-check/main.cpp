#include "check_cli.h"

int main(int argc, char** argv) { return findlark::tools::findlarkCheckMain({argv + 1, argv + argc}); }
