#include "mseed_writer.h"
#include "setup.h"

int main(int argc, char** argv) {
  pk::mseed::MseedWriter writer;
  return pk::pk_main(argc, argv, writer);
}
