#include "mdindex/service/mdutil.h"

int main(int argc, char** argv) { return mdindex::service::mdutilMain(argc, argv); }
