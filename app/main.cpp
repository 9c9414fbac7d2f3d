#include "shell/TallyfoxApp.h"

// Dump mode, the display check and the hand-over to a running instance come first, in
// TallyfoxApp::main, so that "tallyfox --dump FILE" works where no display exists.
int main(int argc, char** argv) {
  return tallyfox::TallyfoxApp::main(argc, argv);
}
