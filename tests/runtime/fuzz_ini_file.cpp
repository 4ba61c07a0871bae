// Any bytes as a configuration file: parsing, a dump and a reader pass over
// every block must neither crash nor read out of bounds.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  IniFile::File file;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  in >> file;

  std::string host;
  bool flag = false;
  std::ostringstream messages;
  IniFile::Reader reader("fuzz: ", messages);
  reader.required.add(&host, "host");
  reader.optional.add(&flag, "flag");
  for (IniFile::Section* s : file)
    for (IniFile::SubSection* block : *s) reader(*block);

  std::ostringstream dump;
  file.Dump(dump);
  return 0;
}
