#include "app/quelvarn.h"

int main(int argc, char** argv) {
  return quelvarn_main(argc, argv, std::cin, std::cout, std::cerr, run_quelvarn);
}
