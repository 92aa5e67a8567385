#pragma once

// SHA-256 (FIPS 180-4) through OpenSSL's EVP interface, which uses the CPU's SHA extensions
// where it has them (about 1.5 GB/s per core here).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

namespace nimbra {

// A finished SHA-256 digest. Compared and hashed by value; shown as 64 lower-case hex digits.
struct Sha256Digest {
  std::array<uint8_t, 32> bytes{};

  std::string hex() const;
  friend bool operator==(const Sha256Digest&, const Sha256Digest&) = default;
  friend auto operator<=>(const Sha256Digest&, const Sha256Digest&) = default;
};

// For unordered containers: the digest is already uniformly distributed.
struct Sha256DigestHash {
  size_t operator()(const Sha256Digest& digest) const;
};

// An incremental SHA-256 computation. Move-only; copy the state explicitly with clone() to
// finish one branch and go on with the other (a prefix digest, then the whole file's).
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&& other) noexcept;
  Sha256& operator=(Sha256&& other) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, size_t size);
  // The digest of everything fed so far. The computation itself is left as it was, so
  // update() may go on after it.
  Sha256Digest digest() const;
  // An independent computation in the same state.
  Sha256 clone() const;

 private:
  explicit Sha256(evp_md_ctx_st* context) : context_(context) {}
  evp_md_ctx_st* context_;
};

// The digest of `size` bytes at `data`, in one call.
Sha256Digest sha256Of(const void* data, size_t size);

}  // namespace nimbra
