// The program: one executable for every mode.
#include "app/uProgram.h"

int main(int argc, char** argv) { return halvora::RunProgram(argc, argv); }
