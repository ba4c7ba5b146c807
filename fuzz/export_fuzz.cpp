// Feeds outside bytes to zuadm's import reader. Whatever it accepts is
// written out again and read back: the second reading must give the same
// keys and values, and the second text must equal the first written one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/zuadm/key_tree.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  for (bool forFiles : {false, true}) {
    KeyImage image;
    zustring error;
    if (!ParseExport(bytes, size, forFiles, image, error)) {
      Check(!error.IsEmpty());
      continue;
    }
    zustring text = ExportText(image);
    KeyImage again;
    Check(ParseExport(text.c_str(), text.Length(), forFiles, again, error));
    Check(ExportText(again) == text);
    Check(again.KeyCount() == image.KeyCount());
  }
  return 0;
}
