// Command-line entry of the DVD authoring engine.
#include "author/authoring_main.h"

int main(int argc, char** argv) { return author::authoring_main(argc, argv, nullptr, nullptr); }
