#include "app/ui/application.h"

int main(int argc, char* argv[]) { return findlark::ui::runApplication(argc, argv); }
