/*
** Stand-in for the shlwapi registry helpers: whole-tree delete and copy,
** each one transaction of the registry database (see advapi32.cpp).
*/
#include "platform/posix/registry.h"
#include "platform/win32.h"

LSTATUS SHDeleteKeyA(HKEY hkey, LPCSTR pszSubKey) {
  return standin::RegistryDeleteTree(hkey, pszSubKey);
}

LSTATUS SHCopyKeyA(HKEY hkeySrc, LPCSTR pszSrcSubKey, HKEY hkeyDest, DWORD) {
  return standin::RegistryCopyTree(hkeySrc, pszSrcSubKey, hkeyDest);
}
