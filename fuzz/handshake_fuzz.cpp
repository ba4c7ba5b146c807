// Feeds outside bytes to the handshake as the peer's tokens: to a server
// context as the client's first flight or, when the first byte is odd, to a
// client context as the server's answer to its ClientHello. Checks that
// the statuses are the contract's, that an extra buffer never counts more
// bytes than were given, and that the calls end.
#include <cstdint>
#include <string>

#include "fuzz/tls_fuzz_support.h"

using fuzzsupport::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool client = data[0] & 1;
  static SecHandle clientCredentials = fuzzsupport::ClientCredentials(0);
  SecHandle* credentials = client ? &clientCredentials : fuzzsupport::ServerCredentials();
  SecHandle context = {~ULONG_PTR{0}, ~ULONG_PTR{0}};
  std::string out;
  std::string unused;
  bool first = true;
  if (client) {
    Check(fuzzsupport::Call(false, credentials, &context, true, unused, out) ==
          SEC_I_CONTINUE_NEEDED);
    first = false;
  }
  std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
  for (int calls = 0; calls < 100 && status == SEC_I_CONTINUE_NEEDED && !in.empty(); ++calls) {
    size_t before = in.size();
    status = fuzzsupport::Call(!client, credentials, &context, first, in, out);
    Check(status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE ||
          status == SEC_I_INCOMPLETE_CREDENTIALS || status == SEC_E_OK || status < 0);
    Check(in.size() <= before);
    if (status == SEC_E_INCOMPLETE_MESSAGE) Check(in.size() == before);
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) status = SEC_I_CONTINUE_NEEDED;
    if (context.dwUpper != ~ULONG_PTR{0}) first = false;
  }
  if (context.dwUpper != ~ULONG_PTR{0}) SecurityInterface.DeleteSecurityContext(&context);
  return 0;
}
