#include "seisan/seis_writer.h"
#include "convert/setup.h"

int main(int argc, char** argv) {
  pk::seis::SeisanWriter writer;
  return pk::pk_main(argc, argv, writer);
}
