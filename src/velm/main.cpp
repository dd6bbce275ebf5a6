#include "cli.h"

int main(int argc, char** argv) { return velm::velm_main(argc, argv); }
