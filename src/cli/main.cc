#include "cli/driver.h"

int main(int argc, char** argv) {
  return quillantrex::run_tool(argc, argv);
}
