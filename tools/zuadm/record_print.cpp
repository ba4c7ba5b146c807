/*
** Prints a record as indented lines or as JSON, through record streams.
*/
#include "tools/zuadm/record_print.h"

#include <vector>

#include "tools/zuadm/field_text.h"
#include "tools/zuadm/text_io.h"

namespace {

/* A text in double quotes; quotes, backslashes and control bytes escaped. */
zustring Quoted(const zustring& text) {
  zustring quoted("\"");
  for (unsigned i = 1; i <= text.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(text.CharAt(i));
    if (c == '"' || c == '\\') {
      char pair[2] = {'\\', static_cast<char>(c)};
      quoted.Append(pair, 2);
    } else if (c < 0x20 || c == 0x7F) {
      quoted.AppendFormat("\\x%02X", c);
    } else {
      quoted.Append(reinterpret_cast<const char*>(&c), 1);
    }
  }
  quoted += "\"";
  return quoted;
}

/* The typed writes of a record stream as texts, for printers that differ
** only in how they lay out a field and quote its value. */
class FieldStream : public RecordStream {
 public:
  bool WriteInt(const zustring& key, int32_t value) override {
    zustring number;
    number.Format("%d", value);
    return Field(key, number, kNumber);
  }
  bool WriteBool(const zustring& key, bool value) override {
    return Field(key, zustring(value ? "true" : "false"), kNumber);
  }
  bool WriteString(const zustring& key, const zustring& value) override {
    return Field(key, value, kText);
  }
  bool WriteIpAddress(const zustring& key, uint32_t address) override {
    return Field(key, IpAddressText(address), kAddress);
  }
  bool WriteMacAddress(const zustring& key, const MacAddress& address) override {
    return Field(key, MacAddressText(address), kAddress);
  }
  void EncodeSecret(zustring& secret) override { secret = EncodeStoredSecret(secret); }

 protected:
  enum Kind { kNumber, kText, kAddress };
  virtual bool Field(const zustring& key, const zustring& value, Kind kind) = 0;
};

class PrintingStream : public FieldStream {
 public:
  zustring text;

  bool BeginRecord(const zustring& tag) override { return Line(tag, 1); }
  bool EndRecord(const zustring&) override { return true; }
  bool BeginList(const zustring& key) override { return Line(key + " [", 1); }
  bool EndList(const zustring&) override { return Line(zustring("]"), -1); }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    return Line(tag + " " + Quoted(name), 1);
  }
  bool EndElement(const zustring&) override {
    --depth_;
    return true;
  }

 private:
  /* Texts in quotes; numbers and addresses as they are. */
  bool Field(const zustring& key, const zustring& value, Kind kind) override {
    return Line(key + " = " + (kind == kText ? Quoted(value) : value), 0);
  }
  /* One line at the current depth; nesting 1 indents the lines after it,
  ** -1 ends an indented block before it. */
  bool Line(const zustring& line, int nesting) {
    if (nesting < 0) --depth_;
    text.AppendFormat("%*s%s\n", 2 * depth_, "", line.c_str());
    if (nesting > 0) ++depth_;
    return true;
  }
  int depth_ = 0;
};

/* Writes JSON: objects for the record and elements, arrays for lists. */
class JsonStream : public FieldStream {
 public:
  zustring text;

  bool BeginRecord(const zustring& tag) override {
    Open("{");
    return Member(zustring("$TYPE"), JsonString(tag));
  }
  bool EndRecord(const zustring&) override { return Close("}"); }
  bool BeginList(const zustring& key) override {
    Key(key);
    Open("[");
    return true;
  }
  bool EndList(const zustring&) override { return Close("]"); }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    Separate();
    Open("{");
    Member(zustring("$TYPE"), JsonString(tag));
    return Member(zustring("$NAME"), JsonString(name));
  }
  bool EndElement(const zustring&) override { return Close("}"); }

 private:
  /* Numbers and booleans bare; texts and addresses as JSON strings. */
  bool Field(const zustring& key, const zustring& value, Kind kind) override {
    return Member(key, kind == kNumber ? value : JsonString(value));
  }
  /* A comma before every member or element but the first of its parent. */
  void Separate() {
    if (!first_.empty() && !first_.back()) text += ",";
    if (!first_.empty()) first_.back() = false;
    if (!first_.empty()) text.AppendFormat("\n%*s", 2 * static_cast<int>(first_.size()), "");
  }
  void Key(const zustring& key) {
    Separate();
    text += JsonString(key);
    text += ": ";
  }
  bool Member(const zustring& key, const zustring& value) {
    Key(key);
    text += value;
    return true;
  }
  void Open(const char* bracket) {
    text += bracket;
    first_.push_back(true);
  }
  bool Close(const char* bracket) {
    bool empty = first_.back();
    first_.pop_back();
    if (!empty) text.AppendFormat("\n%*s", 2 * static_cast<int>(first_.size()), "");
    text += bracket;
    if (first_.empty()) text += "\n";
    return true;
  }
  std::vector<bool> first_;
};

}  // namespace

zustring RecordJson(const ParamLoader& record) {
  JsonStream stream;
  record.Serialize(stream, true);
  return stream.text;
}

zustring RecordText(const ParamLoader& record) {
  PrintingStream stream;
  record.Serialize(stream, true);
  return stream.text;
}
