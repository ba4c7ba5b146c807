// A host of the installed library: declares a record of its own, fills it
// by key and checks what it reads back.
#include <cstdio>

#include "misc/zustring.h"
#include "paramloader/paramloader.h"

#define ZU_FIELDS_HostRecord(F) \
  F(KEY, "NAME", name)          \
  F(INT, "PORT", port, 25)

class HostRecord : public Record<HostRecord, Replicatable> {
 public:
  ZU_RECORD(HostRecord, "HOST_RECORD")
};
ZU_RECORD_TABLE(HostRecord)

int main() {
  HostRecord record;
  *static_cast<zustring*>(record.FieldAddress(record.FindField("name"))) = "mail";
  bool ok = record.name == "mail" && record.port == 25 && record.KeyField() &&
            record.FindField("REP_KEY") && zustring("x").Length() == 1;
  std::printf("%s %s %d\n", ok ? "ok" : "failed", record.TypeTag(), record.port);
  return ok ? 0 : 1;
}
