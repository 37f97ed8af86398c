// SPDX-License-Identifier: BSD-3-Clause
// Seeded test signals: interleaved 16-bit sample blocks of the shapes that
// stress a lossless coder (silence, steps, noise, square waves, sines,
// clipping, values near the extremes). Deterministic for a given seed.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace nubo::test {

enum class Shape { Silence, Step, FullScaleNoise, QuietNoise, Square, Sine, ClippedSine, NearExtremes, Music };

inline const char* shapeName(Shape s) {
  switch (s) {
    case Shape::Silence: return "silence";
    case Shape::Step: return "step";
    case Shape::FullScaleNoise: return "full-scale noise";
    case Shape::QuietNoise: return "quiet noise";
    case Shape::Square: return "square";
    case Shape::Sine: return "sine";
    case Shape::ClippedSine: return "clipped sine";
    case Shape::NearExtremes: return "near +-32768";
    case Shape::Music: return "music-like";
  }
  return "?";
}

inline constexpr Shape kAllShapes[] = {Shape::Silence, Shape::Step,        Shape::FullScaleNoise,
                                       Shape::QuietNoise, Shape::Square,   Shape::Sine,
                                       Shape::ClippedSine, Shape::NearExtremes, Shape::Music};

inline int16_t clamp16(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

// `count` interleaved samples (all channels together) of `shape`.
inline std::vector<int16_t> makeSignal(Shape shape, int count, int channels, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int16_t> s(static_cast<size_t>(count));
  std::uniform_int_distribution<int> full(-32768, 32767);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double f = 0.002 + 0.05 * (seed % 97) / 97.0;  // cycles per frame
  double lowpass[2] = {0, 0};
  for (int i = 0; i < count; ++i) {
    const int c = i % channels;
    const double t = static_cast<double>(i / channels);
    double v = 0;
    switch (shape) {
      case Shape::Silence: v = 0; break;
      case Shape::Step: v = (i / channels) < count / (2 * channels) ? -12000 + 500 * c : 23000; break;
      case Shape::FullScaleNoise: s[i] = static_cast<int16_t>(full(rng)); continue;
      case Shape::QuietNoise: v = 40 * gauss(rng); break;
      case Shape::Square: s[i] = (static_cast<int>(t * f * 2) % 2) ? 32767 : -32768; continue;
      case Shape::Sine: v = 20000 * std::sin(2 * M_PI * f * t + c); break;
      case Shape::ClippedSine: v = 60000 * std::sin(2 * M_PI * f * t + c); break;
      case Shape::NearExtremes: s[i] = static_cast<int16_t>((i & 1) ? 32767 - (rng() % 4) : -32768 + (rng() % 4)); continue;
      case Shape::Music:
        // Low-passed noise plus a few partials: a spectrum falling with frequency, like recordings.
        lowpass[c] = 0.97 * lowpass[c] + 0.03 * 9000 * gauss(rng);
        v = lowpass[c] * 4 + 6000 * std::sin(2 * M_PI * f * t) + 2500 * std::sin(2 * M_PI * 3.01 * f * t + c) +
            300 * gauss(rng);
        break;
    }
    s[i] = clamp16(v);
  }
  return s;
}

// Little-endian bytes of interleaved samples, as the codec's sample buffer holds them.
inline std::vector<uint8_t> toBytes(const std::vector<int16_t>& s) {
  std::vector<uint8_t> b(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    b[2 * i] = static_cast<uint8_t>(s[i]);
    b[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s[i]) >> 8);
  }
  return b;
}

}  // namespace nubo::test
