#include "base/sha256.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace nimbra {
namespace {

// OpenSSL fails these calls only on allocation failure or a broken library; neither leaves
// anything sensible to answer, so they end the process like a failed `new` would.
void require(bool ok) {
  if (!ok) std::abort();
}

EVP_MD_CTX* freshContext() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  require(context != nullptr);
  require(EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1);
  return context;
}

}  // namespace

std::string Sha256Digest::hex() const {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(bytes.size() * 2, '0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0f];
  }
  return text;
}

size_t Sha256DigestHash::operator()(const Sha256Digest& digest) const {
  size_t value;
  std::memcpy(&value, digest.bytes.data(), sizeof value);
  return value;
}

Sha256::Sha256() : context_(freshContext()) {}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

Sha256::Sha256(Sha256&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept {
  std::swap(context_, other.context_);
  return *this;
}

void Sha256::update(const void* data, size_t size) {
  if (size > 0) require(EVP_DigestUpdate(context_, data, size) == 1);
}

Sha256Digest Sha256::digest() const {
  Sha256 branch = clone();
  Sha256Digest result;
  unsigned int length = 0;
  require(EVP_DigestFinal_ex(branch.context_, result.bytes.data(), &length) == 1);
  require(length == result.bytes.size());
  return result;
}

Sha256 Sha256::clone() const {
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  require(copy != nullptr);
  require(EVP_MD_CTX_copy_ex(copy, context_) == 1);
  return Sha256(copy);
}

Sha256Digest sha256Of(const void* data, size_t size) {
  Sha256 hasher;
  hasher.update(data, size);
  return hasher.digest();
}

}  // namespace nimbra
