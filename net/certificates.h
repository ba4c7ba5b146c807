/*
** Certificates for the TLS layer: listing the personal store, naming the
** chain policy's errors, printing a chain and inspecting a TLS Certificate
** handshake message seen in transit. Finding a credential's certificate
** (by subject, thumbprint or PFX file) and verifying a server are members
** of SecureCredentials and SecureChannel (net/securechannel.h).
**
** The personal store is "MY" of the current user or, with machineStore, of
** the local machine. Dates are UTC, "YYYY-MM-DD hh:mm:ss".
*/
#pragma once

#include "misc/zustring.h"
#include "net/securechannel.h"
#include "platform/win32.h"

/* An open personal store and its current certificate, for listing. */
struct CertificateCursor {
  HCERTSTORE Store = nullptr;
  PCCERT_CONTEXT Current = nullptr;
};

/* NextCertificate's flags: the certificate has a usable private key. */
constexpr DWORD kCertificateHasKey = 0x1;

/* The personal store opened for listing (owned by the caller), or null. */
CertificateCursor* OpenCursor(bool machineStore);
/* Moves to the next certificate and describes it: simple display names of
** subject and issuer, validity dates, upper-case SHA-1 thumbprint and, when
** flags is given, kCertificateHasKey. False at the end, or when a name or
** the thumbprint cannot be read. */
bool NextCertificate(CertificateCursor* cursor, zustring& subject, zustring& issuer,
                     zustring& validUntil, zustring& validFrom, zustring& thumbprint, DWORD* flags);
void CloseCursor(CertificateCursor* cursor);

/* "CERT_E_EXPIRED"... for the chain policy's codes 0x800B0101 to
** 0x800B0110, "(unknown)" for any other. */
const char* CertificateErrorName(DWORD code);

/* Prints the certificate's subject and issuer, then those of each issuer
** found in its own store, to stdout. */
void PrintCertificateChain(PCCERT_CONTEXT certificate);

/* The common name of the first certificate of a Certificate handshake
** message body (3-byte total length, then 3-byte lengths each followed by
** a DER certificate), allocated with malloc (free it), or null. With
** chainValid, also whether that certificate's chain verifies for its own
** common name. A certificate cut short ends the parse with a line on
** stdout. */
char* InspectCertificateMessage(const unsigned char* bytes, int length, bool* chainValid);
