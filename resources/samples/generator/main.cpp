// findlark-samplegen FOLDER: writes the thirteen sample documents into FOLDER.
#include "generator.h"

int main(int argc, char* argv[]) { return samplegen::runGenerator(argc, argv); }
