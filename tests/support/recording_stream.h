// A record stream that writes every call it receives as one line of text,
// and can be told to fail at a given call or for given operations.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "paramloader/paramloader.h"

class RecordingStream : public RecordStream {
 public:
  std::vector<std::string> calls;
  size_t failAtCall = 0;             // 1-based number of the call that returns false
  std::set<std::string> failingOps;  // operations that always return false

  bool BeginRecord(const zustring& tag) override { return Note("BeginRecord", tag.c_str()); }
  bool EndRecord(const zustring& tag) override { return Note("EndRecord", tag.c_str()); }
  bool BeginList(const zustring& key) override { return Note("BeginList", key.c_str()); }
  bool EndList(const zustring& key) override { return Note("EndList", key.c_str()); }
  bool WriteInt(const zustring& key, int32_t value) override {
    return Note("WriteInt", Pair(key, std::to_string(value)));
  }
  bool WriteBool(const zustring& key, bool value) override {
    return Note("WriteBool", Pair(key, value ? "true" : "false"));
  }
  bool WriteString(const zustring& key, const zustring& value) override {
    return Note("WriteString", Pair(key, std::string(value.c_str(), value.Length())));
  }
  bool WriteIpAddress(const zustring& key, uint32_t address) override {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return Note("WriteIpAddress", Pair(key, text));
  }
  bool WriteMacAddress(const zustring& key, const MacAddress& address) override {
    char text[18];
    const uint8_t* b = address.bytes;
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return Note("WriteMacAddress", Pair(key, text));
  }
  bool BeginElement(const zustring& tag, const zustring& name) override {
    return Note("BeginElement", std::string(tag.c_str()) + " " + name.c_str());
  }
  bool EndElement(const zustring& tag) override { return Note("EndElement", tag.c_str()); }
  void EncodeSecret(zustring& text) override {
    Note("EncodeSecret", text.c_str());
    text.Insert("enc:", 4, 1);
  }

 private:
  static std::string Pair(const zustring& key, const std::string& value) {
    return std::string(key.c_str()) + "=" + value;
  }
  bool Note(const char* op, const std::string& what) {
    calls.push_back(std::string(op) + " " + what);
    return calls.size() != failAtCall && !failingOps.count(op);
  }
};
