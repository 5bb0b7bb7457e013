// findlark-helpbuild SOURCE.html OUTPUT.pdf: prints the help document.
#include "help_builder.h"

int main(int argc, char* argv[]) { return helpbuild::runHelpBuilder(argc, argv); }
