/*
** zuadm's certificate and TLS commands:
**
**   cert list [-m]            the personal store: subject, issuer, validity,
**                             thumbprint and whether the private key is there
**   cert import FILE.pfx [-m] a PFX file (empty or no password): the
**                             certificate with the key into the personal
**                             store, the others into the intermediates' (CA)
**   tls check HOST:PORT [-k]  connects, prints the connection, the server's
**                             chain and the verdict on it
**
** -m chooses the local machine's stores (also when given before the
** command). The entry functions take the arguments after the command word
** and return zuadm's exit code: 0 success, 1 failure (a rejected server
** certificate too, unless -k), 2 a wrong command line.
*/
#pragma once

#include <vector>

int CertCommand(const std::vector<const char*>& args, bool machineStore);
int TlsCommand(const std::vector<const char*>& args);
