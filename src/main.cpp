#include "driver/run.h"

int main(int argc, char** argv) { return tarvix::run_main(argc, argv); }
