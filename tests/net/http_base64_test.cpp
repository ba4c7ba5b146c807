// Base64: the encoder against the openssl command's, the strict decoder's
// ends and refusals, and the tolerant decoder fed in pieces of every size.
#include "net/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/tls_peers.h"

namespace {

std::string Encode(const std::string& bytes) {
  std::vector<char> out(Base64EncodedSize(bytes.size()));
  size_t n = Base64Encode(bytes.data(), bytes.size(), out.data());
  EXPECT_EQ(out[n], 0);
  return std::string(out.data(), n);
}

/* The strict decoding, or "<0>" for the result 0. */
std::string Decode(const std::string& text, size_t capacity = 300) {
  std::vector<char> out(capacity + 1);
  size_t n = Base64Decode(text.c_str(), out.data(), capacity);
  return n ? std::string(out.data(), n) : "<0>";
}

TEST(Base64, EncodesAsOpenSslAndDecodesBack) {
  if (!tlspeers::LinuxPeers()) GTEST_SKIP() << tlspeers::kNoLinuxPeers;
  // Random texts in files, and openssl's encoding of each, a line each.
  TempDir dir;
  std::mt19937 random(1);
  std::vector<std::string> texts;
  std::string script;
  for (size_t n = 1; n < 200; n += 7) {
    std::string bytes(n, 0);
    for (char& c : bytes) c = static_cast<char>(random());
    texts.push_back(bytes);
    std::string file = dir / std::to_string(n);
    dir.Write(std::to_string(n), bytes);
    script += "openssl base64 -A -in " + tlspeers::Quote(UnixPath(file)) + " && echo || exit\n";
  }
  std::string anchors;
  ASSERT_EQ(0, tlspeers::Shell(script, &anchors)) << anchors;
  std::istringstream lines(anchors);
  for (const std::string& bytes : texts) {
    size_t n = bytes.size();
    std::string anchor;
    ASSERT_TRUE(std::getline(lines, anchor));
    std::string encoded = Encode(bytes);
    ASSERT_EQ(encoded, anchor + "\r\n") << n;
    EXPECT_EQ(Decode(encoded, n), bytes) << n;
    EXPECT_EQ(Decode(encoded, n - 1), "<0>") << n;  // more than the capacity
    EXPECT_EQ(Base64DecodedLength(encoded.c_str()), static_cast<int>(n));

    // Line breaks and foreign symbols, in pieces of every size, for the tolerant decoder.
    std::string noisy;
    for (size_t i = 0; i < encoded.size(); ++i)
      noisy += encoded[i] + std::string(i % 5 ? "" : "\n *");
    for (size_t piece = 1; piece <= 5; ++piece) {
      Base64Decoder decoder;
      std::string out;
      for (size_t at = 0; at < noisy.size(); at += piece) {
        size_t k = std::min(piece, noisy.size() - at);
        std::vector<char> buffer(Base64Decoder::MaxOutput(k));
        EXPECT_EQ(decoder.Decode(noisy.data() + at, k, buffer.data(), buffer.size() - 1), -1);
        out.append(buffer.data(),
                   decoder.Decode(noisy.data() + at, k, buffer.data(), buffer.size()));
      }
      EXPECT_TRUE(out == bytes && decoder.Pending() == 0) << n << " " << piece;
    }
  }
}

TEST(Base64, StrictDecodingEndsOrRefuses) {
  EXPECT_EQ(Encode(""), "\r\n");
  EXPECT_EQ(Decode("Zm9v\r\nZm9v"), "foo");   // a group starting with CR ends the text
  EXPECT_EQ(Decode("Zm9vYg==Zm9v"), "foob");  // padding ends it too
  EXPECT_EQ(Decode("Zm9v*Zm9"), "<0>");       // a foreign symbol
  EXPECT_EQ(Decode("Zm9vY"), "<0>");          // a group cut short
  EXPECT_EQ(Decode("Zm=v"), "<0>");           // padding inside a group
  EXPECT_EQ(Base64DecodedLength("Zm9vYg==\r\n  "), 4);
  EXPECT_EQ(Base64DecodedLength("Zm9vY"), -1);
  EXPECT_EQ(Base64DecodedLength("Zm9vY==="), -1);
}

}  // namespace
