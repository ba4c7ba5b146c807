/*
** What a settings store holds under a value name. RegKey and RegValueStore
** both answer GetKind with these, so that a host can tell a missing value
** from an empty text or a 0, which their getters cannot.
*/
#pragma once

#include <cstdint>

enum ValueKind : int32_t {
  ValueMissing = -1,
  ValueInteger = 0,  // RegValueStore's entry kinds: 0 integer, 1 text
  ValueText = 1,
  ValueOther = 2,  // a registry value of a type the getters do not read
};
