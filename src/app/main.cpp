#include "app/shell.h"

int main(int argc, char** argv) { return nimbra::applicationMain(argc, argv); }
