#include "mseed/mseed_writer.h"
#include "convert/setup.h"

int main(int argc, char** argv) {
  pk::mseed::MseedWriter writer;
  return pk::pk_main(argc, argv, writer);
}
