// SPDX-License-Identifier: BSD-3-Clause
#include "audio_md5.h"

#ifdef NUBO_HAVE_NETTLE
#include <nettle/md5.h>
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
#else
struct AudioMd5::State {};
AudioMd5::AudioMd5() : state_(nullptr) {}
AudioMd5::~AudioMd5() = default;
bool AudioMd5::available() { return false; }
void AudioMd5::update(const uint8_t*, std::size_t) {}
std::string AudioMd5::hex() { return ""; }
#endif

}  // namespace nubo::converter
