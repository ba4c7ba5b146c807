// A fixture for TLS tests: one PKI for the whole suite (tlspeers::Pki, made
// once in a temp dir) and, for each test, a fresh stand-in root that trusts
// the PKI's root CA and no system bundle, with Windows Sockets started.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_dir.h"
#include "support/tls_peers.h"

class TlsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    pkiDir_ = new TempDir;
    pki_ = new tlspeers::Pki(pkiDir_->path());
  }
  static void TearDownTestSuite() {
    delete pki_;
    delete pkiDir_;
  }
  void SetUp() override {
    setenv("ZU_WIN32_ROOT", root_.path().c_str(), 1);
    root_.Write("standin.conf", "crypt32.ca_bundle=\n");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    pki_->TrustRoot();
  }
  void TearDown() override {
    WSACleanup();
    unsetenv("ZU_WIN32_ROOT");
  }

  inline static TempDir* pkiDir_ = nullptr;
  inline static tlspeers::Pki* pki_ = nullptr;
  TempDir root_;
};
