/*
** Text forms of field values and the stored form of secrets.
*/
#include "tools/zuadm/field_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kSecretPrefix[] = "{zu1}";
constexpr unsigned kSecretPrefixLength = sizeof kSecretPrefix - 1;

/* The mask of byte i: a small linear congruential sequence. */
uint8_t SecretMask(unsigned i) {
  uint32_t x = 0x9E3779B9u ^ (i * 2654435761u);
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  return static_cast<uint8_t>(x);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

zustring IpAddressText(uint32_t address) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
  zustring text;
  text.Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

bool ParseIpAddress(const char* text, uint32_t& address) {
  uint8_t bytes[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') return false;
    unsigned part = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (++digits > 3) return false;
      part = part * 10 + (*p - '0');
    }
    if (part > 255) return false;
    bytes[i] = static_cast<uint8_t>(part);
    if (i < 3 && *p++ != '.') return false;
  }
  if (*p) return false;
  std::memcpy(&address, bytes, 4);
  return true;
}

zustring MacAddressText(const MacAddress& mac) {
  const uint8_t* b = mac.bytes;
  zustring text;
  text.Format("%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

bool ParseMacAddress(const char* text, MacAddress& mac) {
  MacAddress parsed;
  const char* p = text;
  for (int i = 0; i < 6; ++i) {
    int high = HexDigit(p[0]);
    int low = high < 0 ? -1 : HexDigit(p[1]);
    if (low < 0) return false;
    parsed.bytes[i] = static_cast<uint8_t>(high * 16 + low);
    p += 2;
    if (i < 5) {
      if (*p != ':' && *p != '-') return false;
      ++p;
    }
  }
  if (*p) return false;
  mac = parsed;
  return true;
}

bool ParseInt32(const char* text, int32_t& value) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text, &end, 10);
  if (*end || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

bool ParseBool(const char* text, bool& value) {
  static const char* const kTrue[] = {"true", "1", "yes", "on"};
  static const char* const kFalse[] = {"false", "0", "no", "off"};
  for (int truth = 0; truth < 2; ++truth) {
    for (const char* word : truth ? kTrue : kFalse) {
      if (_stricmp(text, word) != 0) continue;
      value = truth != 0;
      return true;
    }
  }
  return false;
}

zustring FieldText(const FieldDescriptor* row, const void* field) {
  zustring text;
  switch (row->type) {
    case FIELD_INT:
      text.Format("%d", *static_cast<const int32_t*>(field));
      break;
    case FIELD_BOOL:
      text = *static_cast<const bool*>(field) ? "true" : "false";
      break;
    case FIELD_IPADDR:
      text = IpAddressText(*static_cast<const uint32_t*>(field));
      break;
    case FIELD_STRING:
    case FIELD_KEY:
    case FIELD_PASSWORD:
      text = *static_cast<const zustring*>(field);
      break;
    case FIELD_MAC:
      text = MacAddressText(*static_cast<const MacAddress*>(field));
      break;
    default:
      break;
  }
  return text;
}

bool SetFieldFromText(const FieldDescriptor* row, void* field, const zustring& text,
                      zustring& error) {
  bool ok = true;
  const char* kind = "";
  switch (row->type) {
    case FIELD_INT:
      ok = ParseInt32(text.c_str(), *static_cast<int32_t*>(field));
      kind = "an integer";
      break;
    case FIELD_BOOL:
      ok = ParseBool(text.c_str(), *static_cast<bool*>(field));
      kind = "true or false";
      break;
    case FIELD_IPADDR:
      ok = ParseIpAddress(text.c_str(), *static_cast<uint32_t*>(field));
      kind = "an IPv4 address (a.b.c.d)";
      break;
    case FIELD_STRING:
    case FIELD_KEY:
    case FIELD_PASSWORD:
      *static_cast<zustring*>(field) = text;
      break;
    case FIELD_MAC:
      ok = ParseMacAddress(text.c_str(), *static_cast<MacAddress*>(field));
      kind = "a hardware address (six hex pairs)";
      break;
    default:
      error.Format("field %s is a list and has no text value", row->key);
      return false;
  }
  if (!ok) error.Format("field %s: \"%s\" is not %s", row->key, text.c_str(), kind);
  return ok;
}

zustring EncodeStoredSecret(const zustring& plain) {
  zustring stored(kSecretPrefix);
  for (unsigned i = 0; i < plain.Length(); ++i) {
    stored.AppendFormat("%02x", static_cast<uint8_t>(plain.CharAt(i + 1)) ^ SecretMask(i));
  }
  return stored;
}

bool DecodeStoredSecret(const zustring& stored, zustring& plain) {
  if (std::strncmp(stored.c_str(), kSecretPrefix, kSecretPrefixLength) != 0) {
    plain = stored;
    return true;
  }
  const char* digits = stored.c_str() + kSecretPrefixLength;
  size_t n = stored.Length() - kSecretPrefixLength;
  if (n % 2) return false;
  zustring decoded;
  for (size_t i = 0; i < n / 2; ++i) {
    int high = HexDigit(digits[2 * i]);
    int low = HexDigit(digits[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    char byte = static_cast<char>((high * 16 + low) ^ SecretMask(static_cast<unsigned>(i)));
    decoded.Append(&byte, 1);
  }
  plain = decoded;
  return true;
}
