#include "app/entry.h"

int main(int argc, char** argv) { return qs::runEntry(argc, argv); }
