// Fills any record through its field tables: every list gets new elements,
// and every other field a value that depends on a seed. The tests of the
// catalogue and of the record stores use it on every class they know.
#pragma once

#include <cstdint>
#include <cstring>

#include "paramloader/paramloader.h"

struct FillPlan {
  unsigned seed = 1;      // equal plans give equal records
  int depth = 2;          // levels of nested lists that get new elements
  int elements = 1;       // new elements per list
  bool values = true;     // false: only new elements, all at their defaults
  bool allBytes = false;  // texts hold every byte but 0, from a place the seed picks
};

/* Adds plan.elements new elements to every list, filled the same way down to
** plan.depth levels. With values, every other field gets a value that
** depends on the seed (booleans are flipped; texts hold a Latin-1 letter,
** markup characters, quotes, a backslash and sometimes CR LF; with
** allBytes every byte but 0), and the
** elements a list already holds are filled too, so that filling a copy
** changes everything the copy holds. */
inline void FillRecord(ParamLoader& record, const FillPlan& plan) {
  unsigned seed = plan.seed;
  ForEachField(record, [&](const FieldDescriptor* row, void* field) {
    seed = seed * 1103515245u + 12345u;
    if (row->type == FIELD_LIST) {
      if (plan.depth == 0) return;
      auto& list = *static_cast<ParamListBase*>(field);
      const int existing = plan.values ? list.Count() : 0;
      for (int i = 0; i < existing + plan.elements; ++i) {
        ParamLoader* element = i < existing ? list.At(i) : list.AddNew();
        FillRecord(*element, {seed + i, plan.depth - 1, plan.elements, plan.values, plan.allBytes});
      }
      return;
    }
    if (!plan.values) return;
    switch (row->type) {
      case FIELD_INT:
        *static_cast<int32_t*>(field) = static_cast<int32_t>(seed) | 1;
        break;
      case FIELD_BOOL:
        *static_cast<bool*>(field) = !*static_cast<bool*>(field);
        break;
      case FIELD_IPADDR:
        *static_cast<uint32_t*>(field) = seed;
        break;
      case FIELD_MAC:
        std::memcpy(static_cast<MacAddress*>(field)->bytes, &seed, 4);
        static_cast<MacAddress*>(field)->bytes[5] = 0xFE;
        break;
      default:
        if (plan.allBytes) {
          char bytes[255];
          for (int i = 0; i < 255; ++i) bytes[i] = static_cast<char>(1 + (seed + i) % 255);
          *static_cast<zustring*>(field) = zustring(bytes, seed % 4 ? 255 : 7);
          break;
        }
        static_cast<zustring*>(field)->Format("v%u \xE9<&>\"'\\ %s", seed % 1000,
                                              seed % 3 ? "a\r\nb" : "");
    }
  });
}
