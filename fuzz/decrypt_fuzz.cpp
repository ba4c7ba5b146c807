// Feeds outside bytes to DecryptMessage on an established context (TLS 1.3
// or, when the first byte is odd, TLS 1.2), after the server's genuine
// post-handshake records and one genuine data record. Checks that the
// genuine record decrypts, that every buffer the provider reports lies
// within the bytes given, and that a failure stops the context for good.
#include <cstdint>
#include <string>

#include "fuzz/tls_fuzz_support.h"

using fuzzsupport::Check;

namespace {

const char kGenuine[] = "genuine data\n";

std::string ServerRecord(SecHandle* server) {
  SecPkgContext_StreamSizes sizes = {};
  Check(SecurityInterface.QueryContextAttributesA(server, SECPKG_ATTR_STREAM_SIZES, &sizes) ==
        SEC_E_OK);
  std::string record(sizes.cbHeader + sizeof kGenuine - 1 + sizes.cbTrailer, '\0');
  SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                          {sizeof kGenuine - 1, SECBUFFER_DATA, record.data() + sizes.cbHeader},
                          {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
                           record.data() + sizes.cbHeader + sizeof kGenuine - 1},
                          {0, SECBUFFER_EMPTY, nullptr}};
  std::memcpy(buffers[1].pvBuffer, kGenuine, sizeof kGenuine - 1);
  SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
  Check(SecurityInterface.EncryptMessage(server, 0, &description, 0) == SEC_E_OK);
  record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
  return record;
}

bool Within(const SecBuffer& b, const char* begin, const char* end) {
  const char* p = static_cast<const char*>(b.pvBuffer);
  return b.cbBuffer == 0 || (p >= begin && p + b.cbBuffer <= end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SecHandle client, server;
  std::string stream;
  Check(fuzzsupport::Handshake(data[0] & 1 ? SP_PROT_TLS1_2_CLIENT : 0, &client, &server, stream));
  stream += ServerRecord(&server);
  stream.append(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string plain;
  size_t offset = 0;
  bool failed = false;
  for (int calls = 0; calls < 1000 && offset < stream.size(); ++calls) {
    char* begin = stream.data() + offset;
    char* end = stream.data() + stream.size();
    SecBuffer buffers[4] = {{static_cast<ULONG>(end - begin), SECBUFFER_DATA, begin},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = SecurityInterface.DecryptMessage(&client, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) break;
    if (status != SEC_E_OK) {
      failed = status < 0;
      break;
    }
    for (const SecBuffer& b : buffers) Check(Within(b, begin, end));
    plain.append(static_cast<const char*>(buffers[1].pvBuffer), buffers[1].cbBuffer);
    if (buffers[3].BufferType != SECBUFFER_EXTRA) break;
    offset = static_cast<size_t>(static_cast<char*>(buffers[3].pvBuffer) - stream.data());
  }
  // The genuine records come first: whatever follows cannot spoil them.
  Check(plain.compare(0, std::string::npos, kGenuine, 0, plain.size()) == 0 ||
        plain.compare(0, sizeof kGenuine - 1, kGenuine) == 0);
  Check(plain.size() >= sizeof kGenuine - 1);
  if (failed) {
    char byte = 0x17;
    SecBuffer again[4] = {{1, SECBUFFER_DATA, &byte}, {}, {}, {}};
    SecBufferDesc description = {SECBUFFER_VERSION, 4, again};
    Check(SecurityInterface.DecryptMessage(&client, &description, 0, nullptr) < 0);
  }
  SecurityInterface.DeleteSecurityContext(&client);
  SecurityInterface.DeleteSecurityContext(&server);
  return 0;
}
