// Feeds outside text to the Base64 decoders. What the strict decoder
// accepts must encode to a text that decodes to the same bytes; the
// tolerant decoder must give the same bytes however the text is cut into
// pieces; the decoded length must agree with the strict decoder on a text
// of symbols with padding only at its end.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/base64.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Tolerant(const std::string& text, size_t piece) {
  Base64Decoder decoder;
  std::string out;
  for (size_t at = 0; at < text.size(); at += piece) {
    size_t n = text.size() - at < piece ? text.size() - at : piece;
    std::vector<char> buffer(Base64Decoder::MaxOutput(n));
    long m = decoder.Decode(text.data() + at, n, buffer.data(), buffer.size());
    Check(m >= 0 && static_cast<size_t>(m) <= buffer.size());
    out.append(buffer.data(), m);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string terminated = text.substr(0, text.find('\0'));

  std::vector<char> out(terminated.size() / 4 * 3 + 3);
  size_t n = Base64Decode(terminated.c_str(), out.data(), out.size());
  if (n > 0) {
    std::vector<char> encoded(Base64EncodedSize(n));
    Base64Encode(out.data(), n, encoded.data());
    std::vector<char> again(n);
    Check(Base64Decode(encoded.data(), again.data(), n) == n);
    Check(std::memcmp(again.data(), out.data(), n) == 0);
  }
  int length = Base64DecodedLength(terminated.c_str());
  Check(length >= -1);
  size_t symbols = std::strspn(terminated.c_str(), kAlphabet);
  size_t padding = std::strspn(terminated.c_str() + symbols, "=");
  if (n > 0 && length >= 0 && symbols + padding == terminated.size() && padding <= 2) {
    Check(static_cast<size_t>(length) == n);
  }

  std::string whole = Tolerant(text, text.size() + 1);
  size_t piece = size ? 1 + data[0] % 7 : 1;
  Check(Tolerant(text, piece) == whole);
  return 0;
}
