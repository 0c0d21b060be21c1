// calib: command-line front end of the calibration library.
#include <cstdio>

int main() {
  std::printf("calib\n");
  return 0;
}
