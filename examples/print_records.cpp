/*
** A small host of the record framework: declares two record classes of its
** own, builds a configuration, sorts and searches it, and writes it through
** a record stream that prints each call as an indented line.
*/
#include <cstdio>

#include "paramloader/paramloader.h"

#define ZU_FIELDS_Mailbox(F)        \
  F(KEY, "ADDRESS", address)        \
  F(INT, "QUOTA_MB", quotaMb, 100)  \
  F(PASSWORD, "PASSWORD", password) \
  F(BOOL, "ENABLED", enabled, true)

class Mailbox : public Record<Mailbox, Replicatable> {
 public:
  ZU_RECORD(Mailbox, "EXAMPLE_MAILBOX")
};

#define ZU_FIELDS_MailDomain(F) \
  F(STRING, "DOMAIN", domain)   \
  F(IPADDR, "RELAY", relay)     \
  F(MAC, "RELAY_MAC", relayMac) \
  F(LIST, "MAILBOXES", mailboxes, Mailbox)

class MailDomain : public Record<MailDomain, ParamLoaderRefCounted> {
 public:
  ZU_RECORD(MailDomain, "EXAMPLE_DOMAIN")
};

ZU_RECORD_TABLE(Mailbox)
ZU_RECORD_TABLE(MailDomain)

/* Prints every call; secrets are shown masked. */
class PrintingStream : public RecordStream {
 public:
  bool BeginRecord(const zustring& tag) override { return Line("record %s {", tag, 1); }
  bool EndRecord(const zustring&) override { return Line("}", zustring(), -1); }
  bool BeginList(const zustring& key) override { return Line("list %s [", key, 1); }
  bool EndList(const zustring&) override { return Line("]", zustring(), -1); }
  bool WriteInt(const zustring& key, int32_t value) override { return Value(key, Number(value)); }
  bool WriteBool(const zustring& key, bool value) override {
    return Value(key, value ? "true" : "false");
  }
  bool WriteString(const zustring& key, const zustring& value) override {
    zustring quoted("\"");
    quoted += value;
    quoted += "\"";
    return Value(key, quoted);
  }
  bool WriteIpAddress(const zustring& key, uint32_t address) override {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    zustring text;
    text.Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return Value(key, text);
  }
  bool WriteMacAddress(const zustring& key, const MacAddress& mac) override {
    const uint8_t* b = mac.bytes;
    zustring text;
    text.Format("%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
    return Value(key, text);
  }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    zustring head(tag);
    head += " ";
    head += name;
    return Line("%s {", head, 1);
  }
  bool EndElement(const zustring&) override { return Line("}", zustring(), -1); }
  void EncodeSecret(zustring& text) override {
    unsigned n = text.Length();
    text.Assign("");
    for (unsigned i = 0; i < n; ++i) text += "*";
  }

 private:
  static zustring Number(int32_t value) {
    zustring text;
    text.Format("%d", value);
    return text;
  }
  bool Value(const zustring& key, const zustring& value) {
    zustring line(key);
    line += " = ";
    line += value;
    return Line("%s", line, 0);
  }
  bool Line(const char* fmt, const zustring& text, int nesting) {
    if (nesting < 0) --depth_;
    std::printf("%*s", 2 * depth_, "");
    std::printf(fmt, text.c_str());
    std::printf("\n");
    if (nesting > 0) ++depth_;
    return true;
  }
  int depth_ = 0;
};

int main() {
  MailDomain* domain = new MailDomain;
  domain->AddRef();
  domain->domain = "example.org";
  domain->relay = 0x0A00000A;  // 10.0.0.10 in network byte order
  domain->relayMac.bytes[0] = 0x02;
  domain->relayMac.bytes[5] = 0x5E;
  const char* names[] = {"postmaster@example.org", "Alice@example.org", "bob@example.org"};
  for (const char* name : names) {
    Mailbox* box = domain->mailboxes.AddNew();
    box->address = name;
    box->password = "secret";
  }
  domain->mailboxes.FindItem("bob@example.org")->quotaMb = 2048;
  domain->mailboxes.Sort(ParamListBase::CompareByKey);

  // Fill a field by its key, as a host reading stored settings would.
  Mailbox* alice = domain->mailboxes.At(0);
  *static_cast<int32_t*>(alice->FieldAddress(alice->FindField("quota_mb"))) = 512;

  PrintingStream stream;
  bool ok = domain->Serialize(stream, true);
  domain->Release();
  return ok ? 0 : 1;
}
