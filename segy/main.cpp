#include "segy_writer.h"
#include "setup.h"

int main(int argc, char** argv) {
  pk::segy::SegyWriter writer;
  return pk::pk_main(argc, argv, writer);
}
