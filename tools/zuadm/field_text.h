/*
** The text forms of field values that zuadm shows and accepts: integers in
** decimal, booleans as true/false, IPv4 addresses dotted, hardware
** addresses as six hex pairs, texts as they are. Also the reversible
** encoding of secrets that zuadm stores instead of the plain text.
*/
#pragma once

#include "paramloader/paramloader.h"

/* The value of a non-list field as text. */
zustring FieldText(const FieldDescriptor* row, const void* field);

/* Sets a non-list field from text; false with a message when the text is
** not a value of the field's type. */
bool SetFieldFromText(const FieldDescriptor* row, void* field, const zustring& text,
                      zustring& error);

zustring IpAddressText(uint32_t address);
bool ParseIpAddress(const char* text, uint32_t& address);
zustring MacAddressText(const MacAddress& mac);
bool ParseMacAddress(const char* text, MacAddress& mac);
bool ParseInt32(const char* text, int32_t& value);
bool ParseBool(const char* text, bool& value);

/* Secrets are stored as "{zu1}" and hex digits of the bytes masked with a
** fixed key stream: not plain text, and reversible by zuadm. It keeps a
** secret from casual reading, not from an attacker who has this program. */
zustring EncodeStoredSecret(const zustring& plain);
/* The plain text of an encoded secret; a text without the prefix is taken
** as plain. False when the prefix is there but the digits are malformed. */
bool DecodeStoredSecret(const zustring& stored, zustring& plain);
