/*
** The Security Support Provider Interface with the Schannel package
** (secur32.cpp): credentials, TLS handshakes as token exchanges, and
** record encryption and decryption. Included through platform/win32.h only.
**
** The stand-in runs TLS 1.2 and TLS 1.3 through OpenSSL and keeps to the
** contract callers of Schannel rely on:
** - Handshake calls take the peer's bytes as a token buffer and consume
**   whole TLS records only. Bytes of a record not yet complete give
**   SEC_E_INCOMPLETE_MESSAGE with nothing consumed (present them again with
**   more); bytes after the records used, such as an application record that
**   came with the peer's last handshake message, come back as a
**   SECBUFFER_EXTRA buffer counting the last bytes of the input. Output
**   tokens are allocated by the provider (ISC_REQ_ALLOCATE_MEMORY) and
**   freed with FreeContextBuffer. A failure that TLS answers with an alert
**   returns the alert as the output token, with the extended-error
**   attribute set.
** - A client whose server asks for a certificate gets
**   SEC_I_INCOMPLETE_CREDENTIALS once when its credentials hold none; the
**   next call continues without one. No target name is used: no SNI and no
**   name check during the handshake (SCH_CRED_MANUAL_CRED_VALIDATION is
**   the only mode; the caller checks the peer's chain).
** - DecryptMessage takes one record from a SECBUFFER_DATA buffer and three
**   empty ones, decrypts it in place (header, data and trailer buffers
**   over the record) and returns what follows it as SECBUFFER_EXTRA;
**   SEC_E_INCOMPLETE_MESSAGE for a partial record; SEC_I_CONTEXT_EXPIRED
**   for close_notify; SEC_E_MESSAGE_ALTERED for a record that fails its
**   check; SEC_I_RENEGOTIATE for a TLS 1.2 renegotiation request. A record
**   without application data (TLS 1.3 session tickets and key updates)
**   gives SEC_E_OK with an empty data buffer and an extra buffer, possibly
**   empty, for what follows it.
** - EncryptMessage takes the header, data, trailer and empty buffers and
**   makes one record in place. A key update that the peer asked for goes
**   out in front of the next record: the three buffers then hold the
**   update followed by the record, the trailer's size (cbTrailer) leaving
**   room for it.
** - A record header announcing more than a TLS record may hold, or a byte
**   sequence that is not TLS at all, fails at once (SEC_E_ILLEGAL_MESSAGE)
**   without waiting for the rest.
*/
#pragma once

#include "platform/posix/crypt32.h"
#include "platform/posix/types.h"

typedef CHAR SEC_CHAR;
typedef LONG SECURITY_STATUS;

typedef struct _SecHandle {
  ULONG_PTR dwLower;
  ULONG_PTR dwUpper;
} SecHandle, *PSecHandle;
typedef SecHandle CredHandle;
typedef PSecHandle PCredHandle;
typedef SecHandle CtxtHandle;
typedef PSecHandle PCtxtHandle;

typedef struct _SECURITY_INTEGER {
  ULONG LowPart;
  LONG HighPart;
} SECURITY_INTEGER, *PSECURITY_INTEGER;
typedef SECURITY_INTEGER TimeStamp;
typedef SECURITY_INTEGER* PTimeStamp;

typedef struct _SecBuffer {
  ULONG cbBuffer;
  ULONG BufferType;
  void* pvBuffer;
} SecBuffer, *PSecBuffer;

typedef struct _SecBufferDesc {
  ULONG ulVersion;
  ULONG cBuffers;
  PSecBuffer pBuffers;
} SecBufferDesc, *PSecBufferDesc;

#define SECBUFFER_VERSION 0
#define SECBUFFER_EMPTY 0
#define SECBUFFER_DATA 1
#define SECBUFFER_TOKEN 2
#define SECBUFFER_MISSING 4
#define SECBUFFER_EXTRA 5
#define SECBUFFER_STREAM_TRAILER 6
#define SECBUFFER_STREAM_HEADER 7
#define SECBUFFER_ALERT 17

#define SECURITY_NATIVE_DREP 0x00000010
#define SECPKG_CRED_INBOUND 0x00000001
#define SECPKG_CRED_OUTBOUND 0x00000002

#define ISC_REQ_MUTUAL_AUTH 0x00000002
#define ISC_REQ_REPLAY_DETECT 0x00000004
#define ISC_REQ_SEQUENCE_DETECT 0x00000008
#define ISC_REQ_CONFIDENTIALITY 0x00000010
#define ISC_REQ_ALLOCATE_MEMORY 0x00000100
#define ISC_REQ_EXTENDED_ERROR 0x00004000
#define ISC_REQ_STREAM 0x00008000
#define ISC_REQ_INTEGRITY 0x00010000
#define ISC_REQ_MANUAL_CRED_VALIDATION 0x00080000
#define ISC_RET_REPLAY_DETECT 0x00000004
#define ISC_RET_SEQUENCE_DETECT 0x00000008
#define ISC_RET_CONFIDENTIALITY 0x00000010
#define ISC_RET_ALLOCATED_MEMORY 0x00000100
#define ISC_RET_EXTENDED_ERROR 0x00004000
#define ISC_RET_STREAM 0x00008000

#define ASC_REQ_MUTUAL_AUTH 0x00000002
#define ASC_REQ_REPLAY_DETECT 0x00000004
#define ASC_REQ_SEQUENCE_DETECT 0x00000008
#define ASC_REQ_CONFIDENTIALITY 0x00000010
#define ASC_REQ_ALLOCATE_MEMORY 0x00000100
#define ASC_REQ_EXTENDED_ERROR 0x00008000
#define ASC_REQ_STREAM 0x00010000
#define ASC_RET_MUTUAL_AUTH 0x00000002
#define ASC_RET_REPLAY_DETECT 0x00000004
#define ASC_RET_SEQUENCE_DETECT 0x00000008
#define ASC_RET_CONFIDENTIALITY 0x00000010
#define ASC_RET_ALLOCATED_MEMORY 0x00000100
#define ASC_RET_EXTENDED_ERROR 0x00008000
#define ASC_RET_STREAM 0x00010000

#define SECPKG_ATTR_STREAM_SIZES 4
#define SECPKG_ATTR_REMOTE_CERT_CONTEXT 0x53
#define SECPKG_ATTR_CONNECTION_INFO 0x5a

typedef struct _SecPkgContext_StreamSizes {
  ULONG cbHeader;
  ULONG cbTrailer;
  ULONG cbMaximumMessage;
  ULONG cBuffers;
  ULONG cbBlockSize;
} SecPkgContext_StreamSizes, *PSecPkgContext_StreamSizes;

typedef struct _SecPkgContext_ConnectionInfo {
  DWORD dwProtocol;
  ALG_ID aiCipher;
  DWORD dwCipherStrength;
  ALG_ID aiHash;
  DWORD dwHashStrength;
  ALG_ID aiExch;
  DWORD dwExchStrength;
} SecPkgContext_ConnectionInfo, *PSecPkgContext_ConnectionInfo;

/* The Schannel package and its credential record. */
#define UNISP_NAME_A "Microsoft Unified Security Protocol Provider"
#define SCHANNEL_CRED_VERSION 0x00000004
#define SCH_CRED_MANUAL_CRED_VALIDATION 0x00000008
#define SCH_CRED_NO_DEFAULT_CREDS 0x00000010

struct _HMAPPER;
typedef struct _SCHANNEL_CRED {
  DWORD dwVersion;
  DWORD cCreds;
  PCCERT_CONTEXT* paCred;
  HCERTSTORE hRootStore;
  DWORD cMappers;
  struct _HMAPPER** aphMappers;
  DWORD cSupportedAlgs;
  ALG_ID* palgSupportedAlgs;
  DWORD grbitEnabledProtocols;
  DWORD dwMinimumCipherStrength;
  DWORD dwMaximumCipherStrength;
  DWORD dwSessionLifespan;
  DWORD dwFlags;
  DWORD dwCredFormat;
} SCHANNEL_CRED, *PSCHANNEL_CRED;

/* Protocols, as credentials enable them and connection information
** reports them. */
#define SP_PROT_TLS1_SERVER 0x00000040
#define SP_PROT_TLS1_CLIENT 0x00000080
#define SP_PROT_TLS1_1_SERVER 0x00000100
#define SP_PROT_TLS1_1_CLIENT 0x00000200
#define SP_PROT_TLS1_2_SERVER 0x00000400
#define SP_PROT_TLS1_2_CLIENT 0x00000800
#define SP_PROT_TLS1_3_SERVER 0x00001000
#define SP_PROT_TLS1_3_CLIENT 0x00002000

/* Statuses. */
#define SEC_E_OK static_cast<SECURITY_STATUS>(0x00000000)
#define SEC_E_INSUFFICIENT_MEMORY static_cast<SECURITY_STATUS>(0x80090300)
#define SEC_E_INVALID_HANDLE static_cast<SECURITY_STATUS>(0x80090301)
#define SEC_E_UNSUPPORTED_FUNCTION static_cast<SECURITY_STATUS>(0x80090302)
#define SEC_E_INTERNAL_ERROR static_cast<SECURITY_STATUS>(0x80090304)
#define SEC_E_SECPKG_NOT_FOUND static_cast<SECURITY_STATUS>(0x80090305)
#define SEC_E_INVALID_TOKEN static_cast<SECURITY_STATUS>(0x80090308)
#define SEC_E_UNKNOWN_CREDENTIALS static_cast<SECURITY_STATUS>(0x8009030D)
#define SEC_E_NO_CREDENTIALS static_cast<SECURITY_STATUS>(0x8009030E)
#define SEC_E_MESSAGE_ALTERED static_cast<SECURITY_STATUS>(0x8009030F)
#define SEC_I_CONTINUE_NEEDED static_cast<SECURITY_STATUS>(0x00090312)
#define SEC_E_CONTEXT_EXPIRED static_cast<SECURITY_STATUS>(0x80090317)
#define SEC_I_CONTEXT_EXPIRED static_cast<SECURITY_STATUS>(0x00090317)
#define SEC_E_INCOMPLETE_MESSAGE static_cast<SECURITY_STATUS>(0x80090318)
#define SEC_E_INCOMPLETE_CREDENTIALS static_cast<SECURITY_STATUS>(0x80090320)
#define SEC_E_BUFFER_TOO_SMALL static_cast<SECURITY_STATUS>(0x80090321)
#define SEC_I_INCOMPLETE_CREDENTIALS static_cast<SECURITY_STATUS>(0x00090320)
#define SEC_I_RENEGOTIATE static_cast<SECURITY_STATUS>(0x00090321)
#define SEC_E_WRONG_PRINCIPAL static_cast<SECURITY_STATUS>(0x80090322)
#define SEC_E_ILLEGAL_MESSAGE static_cast<SECURITY_STATUS>(0x80090326)
#define SEC_E_CERT_UNKNOWN static_cast<SECURITY_STATUS>(0x80090327)
#define SEC_E_ENCRYPT_FAILURE static_cast<SECURITY_STATUS>(0x80090329)
#define SEC_E_DECRYPT_FAILURE static_cast<SECURITY_STATUS>(0x80090330)
#define SEC_E_ALGORITHM_MISMATCH static_cast<SECURITY_STATUS>(0x80090331)
#define SEC_E_INVALID_PARAMETER static_cast<SECURITY_STATUS>(0x8009035D)

#ifndef SEC_ENTRY
#define SEC_ENTRY
#endif

typedef void(SEC_ENTRY* SEC_GET_KEY_FN)(void* Arg, void* Principal, ULONG KeyVer, void** Key,
                                        SECURITY_STATUS* Status);

/* Credentials: the package must be UNISP_NAME_A and the authentication
** data a SCHANNEL_CRED of version 4. Server credentials need one
** certificate with its private key; client credentials may hold one, used
** when the server asks for it. grbitEnabledProtocols 0 means TLS 1.2 and
** TLS 1.3; cSupportedAlgs restricts the cipher suites to those using the
** listed CALG_ ciphers. */
SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR* pszPrincipal, SEC_CHAR* pszPackage,
                                          ULONG fCredentialUse, void* pvLogonId, void* pAuthData,
                                          SEC_GET_KEY_FN pGetKeyFn, void* pvGetKeyArgument,
                                          PCredHandle phCredential, PTimeStamp ptsExpiry);
SECURITY_STATUS FreeCredentialsHandle(PCredHandle phCredential);
SECURITY_STATUS InitializeSecurityContextA(PCredHandle phCredential, PCtxtHandle phContext,
                                           SEC_CHAR* pszTargetName, ULONG fContextReq,
                                           ULONG Reserved1, ULONG TargetDataRep,
                                           PSecBufferDesc pInput, ULONG Reserved2,
                                           PCtxtHandle phNewContext, PSecBufferDesc pOutput,
                                           ULONG* pfContextAttr, PTimeStamp ptsExpiry);
SECURITY_STATUS AcceptSecurityContext(PCredHandle phCredential, PCtxtHandle phContext,
                                      PSecBufferDesc pInput, ULONG fContextReq, ULONG TargetDataRep,
                                      PCtxtHandle phNewContext, PSecBufferDesc pOutput,
                                      ULONG* pfContextAttr, PTimeStamp ptsExpiry);
SECURITY_STATUS DeleteSecurityContext(PCtxtHandle phContext);
/* SECPKG_ATTR_STREAM_SIZES, SECPKG_ATTR_CONNECTION_INFO and
** SECPKG_ATTR_REMOTE_CERT_CONTEXT (a certificate context whose store holds
** the chain the peer sent; free it with CertFreeCertificateContext). */
SECURITY_STATUS QueryContextAttributesA(PCtxtHandle phContext, ULONG ulAttribute, void* pBuffer);
SECURITY_STATUS FreeContextBuffer(void* pvContextBuffer);
SECURITY_STATUS EncryptMessage(PCtxtHandle phContext, ULONG fQOP, PSecBufferDesc pMessage,
                               ULONG MessageSeqNo);
SECURITY_STATUS DecryptMessage(PCtxtHandle phContext, PSecBufferDesc pMessage, ULONG MessageSeqNo,
                               ULONG* pfQOP);

typedef SECURITY_STATUS(SEC_ENTRY* ACQUIRE_CREDENTIALS_HANDLE_FN_A)(SEC_CHAR*, SEC_CHAR*, ULONG,
                                                                    void*, void*, SEC_GET_KEY_FN,
                                                                    void*, PCredHandle, PTimeStamp);
typedef SECURITY_STATUS(SEC_ENTRY* FREE_CREDENTIALS_HANDLE_FN)(PCredHandle);
typedef SECURITY_STATUS(SEC_ENTRY* INITIALIZE_SECURITY_CONTEXT_FN_A)(PCredHandle, PCtxtHandle,
                                                                     SEC_CHAR*, ULONG, ULONG, ULONG,
                                                                     PSecBufferDesc, ULONG,
                                                                     PCtxtHandle, PSecBufferDesc,
                                                                     ULONG*, PTimeStamp);
typedef SECURITY_STATUS(SEC_ENTRY* ACCEPT_SECURITY_CONTEXT_FN)(PCredHandle, PCtxtHandle,
                                                               PSecBufferDesc, ULONG, ULONG,
                                                               PCtxtHandle, PSecBufferDesc, ULONG*,
                                                               PTimeStamp);
typedef SECURITY_STATUS(SEC_ENTRY* DELETE_SECURITY_CONTEXT_FN)(PCtxtHandle);
typedef SECURITY_STATUS(SEC_ENTRY* QUERY_CONTEXT_ATTRIBUTES_FN_A)(PCtxtHandle, ULONG, void*);
typedef SECURITY_STATUS(SEC_ENTRY* FREE_CONTEXT_BUFFER_FN)(void*);
typedef SECURITY_STATUS(SEC_ENTRY* ENCRYPT_MESSAGE_FN)(PCtxtHandle, ULONG, PSecBufferDesc, ULONG);
typedef SECURITY_STATUS(SEC_ENTRY* DECRYPT_MESSAGE_FN)(PCtxtHandle, PSecBufferDesc, ULONG, ULONG*);

/* The provider's function table in its documented order. Entries the
** stand-in does not provide are null. */
typedef struct _SECURITY_FUNCTION_TABLE_A {
  ULONG dwVersion;
  void* EnumerateSecurityPackagesA;
  void* QueryCredentialsAttributesA;
  ACQUIRE_CREDENTIALS_HANDLE_FN_A AcquireCredentialsHandleA;
  FREE_CREDENTIALS_HANDLE_FN FreeCredentialHandle;
  void* Reserved2;
  INITIALIZE_SECURITY_CONTEXT_FN_A InitializeSecurityContextA;
  ACCEPT_SECURITY_CONTEXT_FN AcceptSecurityContext;
  void* CompleteAuthToken;
  DELETE_SECURITY_CONTEXT_FN DeleteSecurityContext;
  void* ApplyControlToken;
  QUERY_CONTEXT_ATTRIBUTES_FN_A QueryContextAttributesA;
  void* ImpersonateSecurityContext;
  void* RevertSecurityContext;
  void* MakeSignature;
  void* VerifySignature;
  FREE_CONTEXT_BUFFER_FN FreeContextBuffer;
  void* QuerySecurityPackageInfoA;
  void* Reserved3;
  void* Reserved4;
  void* ExportSecurityContext;
  void* ImportSecurityContextA;
  void* AddCredentialsA;
  void* Reserved8;
  void* QuerySecurityContextToken;
  ENCRYPT_MESSAGE_FN EncryptMessage;
  DECRYPT_MESSAGE_FN DecryptMessage;
  void* SetContextAttributesA;
  void* SetCredentialsAttributesA;
  void* ChangeAccountPasswordA;
  void* QueryContextAttributesExA;
  void* QueryCredentialsAttributesExA;
} SecurityFunctionTableA, *PSecurityFunctionTableA;

#define SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION 1

/* The table above; LoadLibraryA("Secur32.dll") and GetProcAddress find it
** under "InitSecurityInterfaceA". */
PSecurityFunctionTableA InitSecurityInterfaceA();
