#include "app/convert.h"

int main(int argc, char* argv[]) { return korvex::runKorvex(argc, argv); }
