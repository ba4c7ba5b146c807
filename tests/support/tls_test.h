// A fixture for TLS tests: one PKI for the whole suite (tlspeers::Pki, made
// once in a temp dir) and, for each test, the current user's private
// certificate stores (a fresh stand-in root, or on Windows the user's
// registry redirected) that trust the PKI's root CA, with Windows Sockets
// started. On Linux no system CA bundle is trusted besides.
#pragma once

#include <gtest/gtest.h>

#include "support/standin_root.h"
#include "support/temp_dir.h"
#include "support/tls_peers.h"

class TlsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pkiDir_ = new TempDir;
    if (tlspeers::LinuxPeers()) pki_ = new tlspeers::Pki(pkiDir_->path());
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete pkiDir_;
    pki_ = nullptr;
  }
  void SetUp() override {
    if (!pki_) GTEST_SKIP() << tlspeers::kNoLinuxPeers;
    ASSERT_TRUE(pki_->made());
    root_.Write("standin.conf", "crypt32.ca_bundle=\n");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    pki_->TrustRoot();
  }
  void TearDown() override {
    if (pki_) WSACleanup();
  }

  inline static TempDir* pkiDir_ = nullptr;
  inline static tlspeers::Pki* pki_ = nullptr;
  TempDir root_;
  PrivateRegistry registry_{root_.path(), PrivateRegistry::kUserOnly};
};
