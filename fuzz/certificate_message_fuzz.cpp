// Feeds outside bytes to InspectCertificateMessage as the body of a TLS
// Certificate message. Checks that a common name comes back only as a
// NUL-terminated text shorter than the input, and that the truncation
// notice (printed to stdout, sent to /dev/null here) never hangs or fails.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/tls_fuzz_support.h"
#include "net/certificates.h"

using fuzzsupport::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  fuzzsupport::PrivateRoot();
  bool valid = false;
  char* name = InspectCertificateMessage(data, static_cast<int>(size), &valid);
  if (name) {
    Check(std::strlen(name) > 0 && std::strlen(name) < size);
    std::free(name);
  } else {
    Check(!valid);
  }
  return 0;
}
