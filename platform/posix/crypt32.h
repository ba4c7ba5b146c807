/*
** CryptoAPI certificate functions (crypt32.cpp): certificate stores, PFX
** import, names and properties, chain building and the SSL chain policy.
** Included through platform/win32.h only.
**
** Stores on this platform:
** - System stores (CertOpenStore with a system or system-registry provider,
**   CertOpenSystemStoreA) are directories below the stand-in's root:
**   ROOT/certificates/user/NAME for the current user and
**   ROOT/certificates/machine/NAME for the local machine, NAME being MY,
**   ROOT, CA or any other store name in upper case. Each certificate is a
**   file of its DER bytes named by its SHA-1 thumbprint (THUMBPRINT.cer);
**   a certificate with a private key has it beside it (THUMBPRINT.key,
**   PKCS#8, mode 0600). Directories are made with mode 0700. A certificate
**   added to a system store is on the disk when the call returns: its key
**   is written first, then the certificate, each to a temporary name that
**   is renamed into place, so an interrupted add leaves the store as it was
**   or with the new certificate complete.
** - Trusted roots are the certificates of both ROOT stores and those of the
**   system's CA bundle, the file named by the setting crypt32.ca_bundle in
**   standin.conf (default /etc/ssl/certs/ca-certificates.crt; an empty
**   value trusts no bundle). Chains are completed from the additional store
**   the caller gives and both CA stores.
** - Certificate contexts are counted: every context a call returns is
**   released with CertFreeCertificateContext, and a store stays alive until
**   it is closed and its last context is released.
** - Texts (names) are Latin-1, the ANSI code page of this platform.
*/
#pragma once

#include "platform/posix/kernel32.h"
#include "platform/posix/types.h"

typedef LONG HRESULT;
typedef unsigned int ALG_ID;
typedef FILETIME* LPFILETIME;
typedef BYTE* PBYTE;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef void* HCERTSTORE;
typedef HANDLE HCERTCHAINENGINE;

typedef struct _GUID {
  ULONG Data1;
  unsigned short Data2;
  unsigned short Data3;
  unsigned char Data4[8];
} GUID;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

/* kernel32's clock and time conversion, kept with the certificate code. */
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);

/* Algorithm identifiers, as connection information reports them. */
#define CALG_MD5 0x00008003
#define CALG_SHA1 0x00008004
#define CALG_SHA_256 0x0000800c
#define CALG_SHA_384 0x0000800d
#define CALG_SHA_512 0x0000800e
#define CALG_RSA_KEYX 0x0000a400
#define CALG_DES 0x00006601
#define CALG_RC2 0x00006602
#define CALG_3DES 0x00006603
#define CALG_SKIPJACK 0x0000660a
#define CALG_AES_128 0x0000660e
#define CALG_AES_256 0x00006610
#define CALG_RC4 0x00006801
#define CALG_DH_EPHEM 0x0000aa02
#define CALG_KEA_KEYX 0x0000aa04
#define CALG_ECDH 0x0000aa05
#define CALG_ECDH_EPHEM 0x0000ae06

typedef struct _CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_OBJID_BLOB, CERT_NAME_BLOB, *PCERT_NAME_BLOB,
    CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_HASH_BLOB, *PCRYPT_HASH_BLOB;

typedef struct _CRYPT_BIT_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
  LPSTR pszObjId;
  CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
  CRYPT_ALGORITHM_IDENTIFIER Algorithm;
  CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_EXTENSION {
  LPSTR pszObjId;
  BOOL fCritical;
  CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;

/* The decoded certificate. The serial number is little-endian, as
** CryptoAPI keeps it; names are the DER encodings of the issuer and
** subject. */
typedef struct _CERT_INFO {
  DWORD dwVersion;
  CRYPT_INTEGER_BLOB SerialNumber;
  CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
  CERT_NAME_BLOB Issuer;
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
  CRYPT_BIT_BLOB IssuerUniqueId;
  CRYPT_BIT_BLOB SubjectUniqueId;
  DWORD cExtension;
  PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

/* Store providers (the pointer values CryptoAPI uses as names). */
#define CERT_STORE_PROV_MEMORY reinterpret_cast<LPCSTR>(2)
#define CERT_STORE_PROV_SYSTEM_A reinterpret_cast<LPCSTR>(9)
#define CERT_STORE_PROV_SYSTEM_W reinterpret_cast<LPCSTR>(10)
#define CERT_STORE_PROV_SYSTEM_REGISTRY_A reinterpret_cast<LPCSTR>(12)
#define CERT_STORE_PROV_SYSTEM_REGISTRY_W reinterpret_cast<LPCSTR>(13)

#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000
#define CERT_SYSTEM_STORE_LOCAL_MACHINE 0x00020000
#define CERT_STORE_CREATE_NEW_FLAG 0x00002000
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000
#define CERT_STORE_READONLY_FLAG 0x00008000
#define CERT_CLOSE_STORE_FORCE_FLAG 0x00000001
#define CERT_CLOSE_STORE_CHECK_FLAG 0x00000002

#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4

#define CERT_FIND_ANY 0x00000000
#define CERT_FIND_SHA1_HASH 0x00010000
#define CERT_FIND_HASH CERT_FIND_SHA1_HASH
#define CERT_FIND_SUBJECT_STR_A 0x00070007

#define CERT_KEY_PROV_INFO_PROP_ID 2
#define CERT_SHA1_HASH_PROP_ID 3
#define CERT_MD5_HASH_PROP_ID 4
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID

typedef struct _CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE* pbData;
  DWORD cbData;
  DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

/* What CERT_KEY_PROV_INFO_PROP_ID gives for a certificate with a usable
** private key: the container is the key file's name. */
typedef struct _CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  PCRYPT_KEY_PROV_PARAM rgProvParam;
  DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

#define CRYPT_EXPORTABLE 0x00000001
#define CRYPT_MACHINE_KEYSET 0x00000020
#define CRYPT_USER_KEYSET 0x00001000
#define AT_KEYEXCHANGE 1
#define PROV_RSA_FULL 1

/* Names: CertGetNameStringA's types and flag, CertNameToStrA's forms. */
#define CERT_NAME_EMAIL_TYPE 1
#define CERT_NAME_RDN_TYPE 2
#define CERT_NAME_ATTR_TYPE 3
#define CERT_NAME_SIMPLE_DISPLAY_TYPE 4
#define CERT_NAME_FRIENDLY_DISPLAY_TYPE 5
#define CERT_NAME_DNS_TYPE 6
#define CERT_NAME_ISSUER_FLAG 0x1
#define CERT_SIMPLE_NAME_STR 1
#define CERT_OID_NAME_STR 2
#define CERT_X500_NAME_STR 3
#define CERT_NAME_STR_SEMICOLON_FLAG 0x40000000
#define CERT_NAME_STR_NO_PLUS_FLAG 0x20000000
#define CERT_NAME_STR_NO_QUOTING_FLAG 0x10000000
#define CERT_NAME_STR_CRLF_FLAG 0x08000000
#define CERT_NAME_STR_REVERSE_FLAG 0x02000000

#define szOID_COMMON_NAME "2.5.4.3"
#define szOID_PKIX_KP_SERVER_AUTH "1.3.6.1.5.5.7.3.1"
#define szOID_PKIX_KP_CLIENT_AUTH "1.3.6.1.5.5.7.3.2"
#define szOID_SERVER_GATED_CRYPTO "1.3.6.1.4.1.311.10.3.3"
#define szOID_SGC_NETSCAPE "2.16.840.1.113730.4.1"

/* Chains. */
typedef struct _CTL_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
} CTL_USAGE, *PCTL_USAGE, CERT_ENHKEY_USAGE, *PCERT_ENHKEY_USAGE;

#define USAGE_MATCH_TYPE_AND 0x00000000
#define USAGE_MATCH_TYPE_OR 0x00000001

typedef struct _CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
} CERT_USAGE_MATCH, *PCERT_USAGE_MATCH;

typedef struct _CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
} CERT_CHAIN_PARA, *PCERT_CHAIN_PARA;

typedef struct _CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
} CERT_TRUST_STATUS, *PCERT_TRUST_STATUS;

#define CERT_TRUST_NO_ERROR 0x00000000
#define CERT_TRUST_IS_NOT_TIME_VALID 0x00000001
#define CERT_TRUST_IS_REVOKED 0x00000004
#define CERT_TRUST_IS_NOT_SIGNATURE_VALID 0x00000008
#define CERT_TRUST_IS_NOT_VALID_FOR_USAGE 0x00000010
#define CERT_TRUST_IS_UNTRUSTED_ROOT 0x00000020
#define CERT_TRUST_IS_CYCLIC 0x00000080
#define CERT_TRUST_INVALID_EXTENSION 0x00000100
#define CERT_TRUST_INVALID_BASIC_CONSTRAINTS 0x00000400
#define CERT_TRUST_IS_PARTIAL_CHAIN 0x00010000
#define CERT_TRUST_HAS_EXACT_MATCH_ISSUER 0x00000001
#define CERT_TRUST_HAS_NAME_MATCH_ISSUER 0x00000004
#define CERT_TRUST_IS_SELF_SIGNED 0x00000008

typedef struct _CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
  void* pRevocationInfo;
  PCERT_ENHKEY_USAGE pIssuanceUsage;
  PCERT_ENHKEY_USAGE pApplicationUsage;
  LPCWSTR pwszExtendedErrorInfo;
} CERT_CHAIN_ELEMENT, *PCERT_CHAIN_ELEMENT;

typedef struct _CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cElement;
  PCERT_CHAIN_ELEMENT* rgpElement;
  void* pTrustListInfo;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
} CERT_SIMPLE_CHAIN, *PCERT_SIMPLE_CHAIN;

/* One simple chain: the certificate first, its root (or the last issuer
** found) last. */
typedef struct _CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  PCERT_SIMPLE_CHAIN* rgpChain;
  DWORD cLowerQualityChainContext;
  const struct _CERT_CHAIN_CONTEXT** rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
  DWORD dwCreateFlags;
  GUID ChainId;
} CERT_CHAIN_CONTEXT, *PCERT_CHAIN_CONTEXT;
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;

#define CERT_CHAIN_POLICY_BASE reinterpret_cast<LPCSTR>(1)
#define CERT_CHAIN_POLICY_SSL reinterpret_cast<LPCSTR>(4)

typedef struct _CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwFlags;
  void* pvExtraPolicyPara;
} CERT_CHAIN_POLICY_PARA, *PCERT_CHAIN_POLICY_PARA;

typedef struct _CERT_CHAIN_POLICY_STATUS {
  DWORD cbSize;
  DWORD dwError;
  LONG lChainIndex;
  LONG lElementIndex;
  void* pvExtraPolicyStatus;
} CERT_CHAIN_POLICY_STATUS, *PCERT_CHAIN_POLICY_STATUS;

#define AUTHTYPE_CLIENT 1
#define AUTHTYPE_SERVER 2

typedef struct _HTTPSPolicyCallbackData {
  union {
    DWORD cbStruct;
    DWORD cbSize;
  };
  DWORD dwAuthType;
  DWORD fdwChecks;
  WCHAR* pwszServerName;
} HTTPSPolicyCallbackData, *PHTTPSPolicyCallbackData, SSL_EXTRA_CERT_CHAIN_POLICY_PARA,
    *PSSL_EXTRA_CERT_CHAIN_POLICY_PARA;

/* Error codes. */
#define ERROR_INVALID_PASSWORD 86L
#define NTE_BAD_DATA static_cast<HRESULT>(0x80090005)
#define CRYPT_E_BAD_ENCODE static_cast<HRESULT>(0x80092002)
#define CRYPT_E_NOT_FOUND static_cast<HRESULT>(0x80092004)
#define CRYPT_E_EXISTS static_cast<HRESULT>(0x80092005)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057)
#define TRUST_E_CERT_SIGNATURE static_cast<HRESULT>(0x80096004)
#define CERT_E_EXPIRED static_cast<HRESULT>(0x800B0101)
#define CERT_E_VALIDITYPERIODNESTING static_cast<HRESULT>(0x800B0102)
#define CERT_E_ROLE static_cast<HRESULT>(0x800B0103)
#define CERT_E_PATHLENCONST static_cast<HRESULT>(0x800B0104)
#define CERT_E_CRITICAL static_cast<HRESULT>(0x800B0105)
#define CERT_E_PURPOSE static_cast<HRESULT>(0x800B0106)
#define CERT_E_ISSUERCHAINING static_cast<HRESULT>(0x800B0107)
#define CERT_E_MALFORMED static_cast<HRESULT>(0x800B0108)
#define CERT_E_UNTRUSTEDROOT static_cast<HRESULT>(0x800B0109)
#define CERT_E_CHAINING static_cast<HRESULT>(0x800B010A)
#define CERT_E_REVOKED static_cast<HRESULT>(0x800B010C)
#define CERT_E_UNTRUSTEDTESTROOT static_cast<HRESULT>(0x800B010D)
#define CERT_E_REVOCATION_FAILURE static_cast<HRESULT>(0x800B010E)
#define CERT_E_CN_NO_MATCH static_cast<HRESULT>(0x800B010F)
#define CERT_E_WRONG_USAGE static_cast<HRESULT>(0x800B0110)

/* Stores. pvPara names the store: a wide name for the SYSTEM_W and
** SYSTEM_REGISTRY_W providers, a Latin-1 one for the _A providers; the
** location is one of the CERT_SYSTEM_STORE_ flags (default the current
** user). The memory provider makes an empty store of no file. */
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                         HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
/* The current user's system store of that name. */
HCERTSTORE CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

/* Both release pPrevCertContext (when not null) and return the next match
** after it, or null with CRYPT_E_NOT_FOUND. CERT_FIND_SUBJECT_STR_A
** matches a Latin-1 text against the subject as CertNameToStrA writes it
** with CERT_SIMPLE_NAME_STR, without regard to case; CERT_FIND_SHA1_HASH
** compares the thumbprint with a 20-byte blob. */
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext);
PCCERT_CONTEXT CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext);
/* An issuer of the certificate found in the store (subject name and
** signature match); *pdwFlags is set to 0. */
PCCERT_CONTEXT CertGetIssuerCertificateFromStore(HCERTSTORE hCertStore,
                                                 PCCERT_CONTEXT pSubjectContext,
                                                 PCCERT_CONTEXT pPrevIssuerContext,
                                                 DWORD* pdwFlags);
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);

/* Properties: the SHA-1 and MD5 hashes, and the key-provider information
** of a certificate with a private key. Without pvData the size is given;
** a short buffer fails with ERROR_MORE_DATA; a missing property with
** CRYPT_E_NOT_FOUND. */
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData);

/* Adding to a system store writes it to the disk (see above); a context
** with a private key brings it along. */
BOOL CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                      const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);

/* -1 before the certificate's start, 1 after its end, else 0; a null time
** is now. */
LONG CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo);

/* Returns the length written including the terminating NUL (1 for an
** empty name); with csz 0 the length needed. */
DWORD CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType, LPSTR psz,
                     DWORD csz);
DWORD CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags, void* pvTypePara,
                         LPSTR pszNameString, DWORD cchNameString);

/* A memory store with the file's certificates, their private keys
** attached. A null password and an empty one are different passwords, as
** PKCS#12 encodes them; a wrong one fails with ERROR_INVALID_PASSWORD. */
HCERTSTORE PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword, DWORD dwFlags);

/* Builds the chain to a trusted root with the default engine (hChainEngine
** null), at pTime (null: now). TrustStatus of each element and of the
** chain tell what is wrong: CERT_TRUST_IS_NOT_TIME_VALID,
** CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_TRUST_IS_PARTIAL_CHAIN (no issuer
** found), CERT_TRUST_IS_NOT_SIGNATURE_VALID, CERT_TRUST_IS_NOT_VALID_FOR_USAGE
** (an extended key usage without any of the requested ones),
** CERT_TRUST_INVALID_BASIC_CONSTRAINTS (an issuer that is no CA). */
BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                             LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                             PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, LPVOID pvReserved,
                             PCCERT_CHAIN_CONTEXT* ppChainContext);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

/* The base and SSL policies. The SSL policy's extra data (optional) gives
** the authentication type and the server name, checked against the DNS
** names of the subjectAltName when it has any, else the common names
** (case-insensitive, "*" standing for one whole leftmost label), and for
** an address against the iPAddress entries. Errors, in the order they
** are looked for: TRUST_E_CERT_SIGNATURE, CERT_E_UNTRUSTEDROOT,
** CERT_E_CHAINING, CERT_E_EXPIRED, CERT_E_ROLE, CERT_E_WRONG_USAGE,
** CERT_E_CN_NO_MATCH; fdwChecks may ignore the unknown CA (0x100), the
** wrong usage (0x200), the name (0x1000) and the dates (0x2000). */
BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      PCERT_CHAIN_POLICY_PARA pPolicyPara,
                                      PCERT_CHAIN_POLICY_STATUS pPolicyStatus);
