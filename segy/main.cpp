#include "segy/segy_writer.h"
#include "convert/setup.h"

int main(int argc, char** argv) {
  pk::segy::SegyWriter writer;
  return pk::pk_main(argc, argv, writer);
}
