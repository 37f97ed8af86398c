// SPDX-License-Identifier: BSD-3-Clause
#include "audio_md5.h"

#ifdef NUBO_HAVE_NETTLE
#include <nettle/md5.h>
#elif defined(NUBO_HAVE_CNG_MD5)
#include <windows.h>
#include <bcrypt.h>
#include <vector>
#endif

#include <cstdio>

namespace nubo::converter {

#ifdef NUBO_HAVE_NETTLE
struct AudioMd5::State {
  md5_ctx ctx;
};
AudioMd5::AudioMd5() : state_(new State) { md5_init(&state_->ctx); }
AudioMd5::~AudioMd5() { delete state_; }
bool AudioMd5::available() { return true; }
void AudioMd5::update(const uint8_t* bytes, std::size_t n) { md5_update(&state_->ctx, n, bytes); }
std::string AudioMd5::hex() {
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&state_->ctx, sizeof digest, digest);
  std::string out;
  char two[3];
  for (const uint8_t b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}
#elif defined(NUBO_HAVE_CNG_MD5)
// The system's own MD5 (CNG). The provider is opened for each sum: it is
// cheap next to the audio hashed, and a sum owns everything it uses.
struct AudioMd5::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::vector<UCHAR> object;  // the hash object's memory (Windows 7 wants it given)
  bool failed = false;
};
AudioMd5::AudioMd5() : state_(new State) {
  State& s = *state_;
  DWORD objectLength = 0;
  ULONG got = 0;
  s.failed = !BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&s.algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) ||
             !BCRYPT_SUCCESS(::BCryptGetProperty(s.algorithm, BCRYPT_OBJECT_LENGTH,
                                                 reinterpret_cast<PUCHAR>(&objectLength), sizeof objectLength, &got, 0));
  if (!s.failed) {
    s.object.resize(objectLength);
    s.failed = !BCRYPT_SUCCESS(
        ::BCryptCreateHash(s.algorithm, &s.hash, s.object.data(), objectLength, nullptr, 0, 0));
  }
}
AudioMd5::~AudioMd5() {
  if (state_->hash != nullptr) ::BCryptDestroyHash(state_->hash);
  if (state_->algorithm != nullptr) ::BCryptCloseAlgorithmProvider(state_->algorithm, 0);
  delete state_;
}
bool AudioMd5::available() { return true; }
void AudioMd5::update(const uint8_t* bytes, std::size_t n) {
  State& s = *state_;
  // BCryptHashData takes at most 4 GiB at a time.
  while (!s.failed && n > 0) {
    const ULONG part = n > 0x40000000u ? 0x40000000u : static_cast<ULONG>(n);
    s.failed = !BCRYPT_SUCCESS(::BCryptHashData(s.hash, const_cast<PUCHAR>(bytes), part, 0));
    bytes += part;
    n -= part;
  }
}
std::string AudioMd5::hex() {
  State& s = *state_;
  UCHAR digest[16] = {};
  // A sum the system could not make is no sum: "" as in a build without MD5.
  if (s.failed || !BCRYPT_SUCCESS(::BCryptFinishHash(s.hash, digest, sizeof digest, 0))) return "";
  s.failed = true;  // a finished hash takes nothing more
  std::string out;
  char two[3];
  for (const UCHAR b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}
#else
struct AudioMd5::State {};
AudioMd5::AudioMd5() : state_(nullptr) {}
AudioMd5::~AudioMd5() = default;
bool AudioMd5::available() { return false; }
void AudioMd5::update(const uint8_t*, std::size_t) {}
std::string AudioMd5::hex() { return ""; }
#endif

}  // namespace nubo::converter
