// The player program.
#include "player/mainrun.h"

int main(int argc, char **argv) { return PlayerMain(argc, argv); }
