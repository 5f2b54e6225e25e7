// SPDX-License-Identifier: MIT
// MD5 through libcrypto's EVP interface.
#include <openssl/evp.h>

#include "output/md5.h"

struct Md5::State {
  EVP_MD_CTX* ctx = nullptr;
  ~State() { EVP_MD_CTX_free(ctx); }
};

Md5::Md5() : state_(std::make_unique<State>()) { state_->ctx = EVP_MD_CTX_new(); }
Md5::~Md5() = default;

bool Md5::built() { return true; }

bool Md5::restart() {
  return state_->ctx != nullptr && EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) == 1;
}

bool Md5::update(const unsigned char* p, size_t n) {
  return n == 0 || EVP_DigestUpdate(state_->ctx, p, n) == 1;
}

std::string Md5::hex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(state_->ctx, digest, &size) != 1) return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 15]);
  }
  return text;
}
