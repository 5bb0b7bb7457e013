#include "mdindex/service/service.h"

int main(int argc, char** argv) { return mdindex::service::mdindexdMain(argc, argv); }
