#include "main/run.h"

int main(int argc, char** argv) { return tessary::runTool(argc, argv); }
