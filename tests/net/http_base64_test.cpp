// Base64: the encoder against RFC 4648's vectors and OpenSSL's encoder, the
// strict decoder's ends and refusals, and the tolerant decoder fed in
// pieces of every size.
#include "net/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Random(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, 0);
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Encode(const std::string& bytes) {
  std::vector<char> out(Base64EncodedSize(bytes.size()));
  size_t n = Base64Encode(bytes.data(), bytes.size(), out.data());
  EXPECT_EQ(out[n], 0);
  return std::string(out.data(), n);
}

/* The strict decoding, or "<0>" for the result 0. */
std::string Decode(const char* text, size_t capacity = 100) {
  std::vector<char> out(capacity + 1);
  size_t n = Base64Decode(text, out.data(), capacity);
  return n ? std::string(out.data(), n) : "<0>";
}

TEST(Base64, EncodesAsRfc4648AndOpenSsl) {
  const char* vectors[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    EXPECT_EQ(Encode(v[0]), std::string(v[1]) + "\r\n");
    EXPECT_EQ(Base64DecodedLength(v[1]), static_cast<int>(std::strlen(v[0])));
    if (*v[0]) {
      EXPECT_EQ(Decode(v[1]), v[0]);
    }
  }
  for (size_t n = 0; n < 200; n += 7) {
    std::string bytes = Random(n, static_cast<unsigned>(n));
    std::vector<unsigned char> anchor(n / 3 * 4 + 8);
    int m = EVP_EncodeBlock(anchor.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(n));
    std::string encoded = Encode(bytes);
    ASSERT_EQ(encoded, std::string(anchor.begin(), anchor.begin() + m) + "\r\n") << n;
    if (n) {
      EXPECT_EQ(Decode(encoded.c_str(), n), bytes) << n;
    }
    EXPECT_EQ(Base64DecodedLength(encoded.c_str()), static_cast<int>(n));
  }
}

TEST(Base64, StrictDecodingEndsOrRefuses) {
  EXPECT_EQ(Decode("Zm9v\r\nZm9v"), "foo");   // a group starting with CR ends the text
  EXPECT_EQ(Decode("Zm9vYg==Zm9v"), "foob");  // padding ends it too
  EXPECT_EQ(Decode("Zm9vYmE=\nxx"), "fooba");
  EXPECT_EQ(Decode("Zm9v*Zm9"), "<0>");  // a foreign symbol
  EXPECT_EQ(Decode("Zm9vY"), "<0>");     // a group cut short
  EXPECT_EQ(Decode("Zm=v"), "<0>");      // padding inside a group
  EXPECT_EQ(Decode("Z==="), "<0>");
  EXPECT_EQ(Decode("Zm9vYmFy", 6), "foobar");
  EXPECT_EQ(Decode("Zm9vYmFy", 5), "<0>");  // more than the capacity
  EXPECT_EQ(Base64DecodedLength("Zm9vYg==\r\n  "), 4);
  EXPECT_EQ(Base64DecodedLength("Zm9vY"), -1);
  EXPECT_EQ(Base64DecodedLength("Zm9vY==="), -1);
  EXPECT_EQ(Base64DecodedLength(""), 0);
}

TEST(Base64, TolerantDecodingAcrossPieces) {
  std::string bytes = Random(301, 7);
  std::string encoded = Encode(bytes);
  // Line breaks and junk every few symbols, as a mail body or a header might hold.
  std::string noisy;
  for (size_t i = 0; i < encoded.size(); ++i)
    noisy += encoded[i] + std::string(i % 5 ? "" : "\r\n *");
  for (size_t piece = 1; piece <= 9; ++piece) {
    Base64Decoder decoder;
    std::string out;
    for (size_t at = 0; at < noisy.size(); at += piece) {
      size_t n = std::min(piece, noisy.size() - at);
      std::vector<char> buffer(Base64Decoder::MaxOutput(n));
      EXPECT_EQ(decoder.Decode(noisy.data() + at, n, buffer.data(), buffer.size() - 1), -1);
      long m = decoder.Decode(noisy.data() + at, n, buffer.data(), buffer.size());
      ASSERT_GE(m, 0);
      out.append(buffer.data(), m);
    }
    EXPECT_EQ(out, bytes) << piece;
    EXPECT_EQ(decoder.Pending(), 0);
  }
}

}  // namespace
