// Test program: the shared engine with a writer that keeps the channel data files.
// PK_ENGINE_LE=1 stores samples least significant byte first, as pk_seis does.
#include <cstdlib>
#include <string>

#include "convert/setup.h"
#include "tests/convert/keep_writer.h"



int main(int argc, char** argv) {
  const char* le = std::getenv("PK_ENGINE_LE");
  testutil::KeepWriter writer(le && std::string(le) == "1");
  return pk::pk_main(argc, argv, writer);
}
