/*
** What the security provider (secur32.cpp) needs from the certificate
** stand-in (crypt32.cpp): the OpenSSL objects behind certificate contexts.
** For the stand-in's own sources only.
*/
#pragma once

// The Windows names first (see crypt32.cpp).
#include "platform/win32.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace standin {

/* The certificate of a context (borrowed), or null for a pointer that is
** no live context of the stand-in. */
X509* CertificateX509(PCCERT_CONTEXT context);
/* The context's private key (a new reference), loaded from its key file
** when it has one; null without a usable key. */
EVP_PKEY* CertificateKey(PCCERT_CONTEXT context);
/* The issuers to present beside the certificate (a new stack of new
** references, without the self-signed root): found in the certificate's
** own store and the CA stores. */
STACK_OF(X509) * CertificateIssuers(PCCERT_CONTEXT context);
/* A context for the first certificate of chain (at least one), in a new
** memory store that holds them all; the store goes with the context. */
PCCERT_CONTEXT ContextForChain(STACK_OF(X509) * chain);

}  // namespace standin
