// SPDX-License-Identifier: BSD-3-Clause
// The searching version-22 encoder. Per block:
//   1. the sums of products (the reference encoder's kernel), from which
//      come the reference encoder's own predictor (its fit, bit for bit) and
//      the least-squares optimum over the block's own samples, solved with
//      pivoting; every candidate's squared error is estimated from them;
//   2. the candidates: the reference predictor, the integer vectors nearest
//      that optimum, and the fixed predictors;
//   3. candidates in order of that error, each costed exactly under every
//      width class while its residuals are counted chunk by chunk; a
//      candidate stops as soon as a lower bound on its codes shows it cannot
//      beat the best block so far;
//   4. the cheapest block written with the reference coder's body writer,
//      then decoded again through NuboWaveConvert and compared.
#include "nubo_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "search_v22_internal.h"

namespace nubo::search {

using codec::CodecResult;
using codec::kEscapeCodeBits;
using codec::kHeaderBytes;
using codec::kHistogramBins;
using codec::kMaxSamples;
using codec::kV22HeadBits;
using codec::detail::kLanes;

namespace detail {

namespace {

constexpr int kChunk = 256;  // residuals counted between two bound checks

// Field ranges of the three coefficients.
constexpr int32_t kLow[3] = {-128, -895, -255};
constexpr int32_t kHigh[3] = {895, 128, 255};

int32_t clampTo(int64_t v, int i) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, kLow[i], kHigh[i]));
}

// The normal equations of the predictor over the block's own samples: the
// positions i = 3c .. n-1, whose three lags all lie inside the block. The
// first 3c residuals are predicted from the zeros before the block whatever
// the coefficients; letting them into the fit would bend it towards a start
// from silence (a tone that starts loud gets a poor predictor).
//   A x = r,  A_jk = sum s[i-jc] s[i-kc],  r_j = sum s[i] s[i-jc].
// Each is a lag sum of the whole block (the reference fit's kernel) less the
// products at its head and its tail.
struct Normal {
  double e = 0;     // sum s[i]^2
  double r[3] = {};
  double A[3][3] = {};
};

Normal normalOf(const int16_t* s, int n, int c, const codec::detail::Sums& sums) {
  Normal q;
  const int first = 3 * c;
  if (n <= first) return q;  // no equations: the solve finds nothing
  const int64_t lag[4] = {sums.e, sums.r1, sums.r2, sums.r3};
  auto at = [&](int i) -> int64_t { return i >= 0 ? s[i] : 0; };
  // sum of s[t] s[t - d c] for t in [from, to)
  auto products = [&](int from, int to, int d) {
    int64_t v = 0;
    for (int t = from; t < to; ++t) v += at(t) * at(t - d * c);
    return v;
  };
  q.e = static_cast<double>(lag[0] - products(0, first, 0));
  for (int j = 1; j <= 3; ++j) q.r[j - 1] = static_cast<double>(lag[j] - products(0, first, j));
  for (int j = 1; j <= 3; ++j) {
    for (int k = j; k <= 3; ++k) {
      // t = i - jc runs over [first - jc, n - jc).
      const int d = k - j;
      const int64_t v = lag[d] - products(0, first - j * c, d) - products(n - j * c, n, d);
      q.A[j - 1][k - 1] = q.A[k - 1][j - 1] = static_cast<double>(v);
    }
  }
  return q;
}

// Solves the leading m-by-m system by Gaussian elimination with partial
// pivoting; false when it is (numerically) singular.
bool solve(const Normal& q, int m, double (&x)[3]) {
  double M[3][4];
  double scale = 0;
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) M[i][j] = q.A[i][j];
    M[i][m] = q.r[i];
    scale = std::max(scale, std::fabs(q.A[i][i]));
  }
  if (!(scale > 0)) return false;
  for (int col = 0; col < m; ++col) {
    int pivot = col;
    for (int i = col + 1; i < m; ++i)
      if (std::fabs(M[i][col]) > std::fabs(M[pivot][col])) pivot = i;
    if (std::fabs(M[pivot][col]) <= 1e-12 * scale) return false;
    if (pivot != col)
      for (int j = 0; j <= m; ++j) std::swap(M[col][j], M[pivot][j]);
    for (int i = col + 1; i < m; ++i) {
      const double f = M[i][col] / M[col][col];
      for (int j = col; j <= m; ++j) M[i][j] -= f * M[col][j];
    }
  }
  x[0] = x[1] = x[2] = 0;
  for (int i = m - 1; i >= 0; --i) {
    double v = M[i][m];
    for (int j = i + 1; j < m; ++j) v -= M[i][j] * x[j];
    x[i] = v / M[i][i];
  }
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

// Squared prediction error of predictor a (units of 1/256) from the sums.
double squaredErrorOf(const Normal& q, const Coefficients& a) {
  const double b[3] = {a.a1 / 256.0, a.a2 / 256.0, a.a3 / 256.0};
  double v = q.e;
  for (int j = 0; j < 3; ++j) {
    v -= 2 * b[j] * q.r[j];
    for (int k = 0; k < 3; ++k) v += b[j] * b[k] * q.A[j][k];
  }
  return v;
}

// The sample-code bits of every class 0..13 from a histogram, through its
// running sums (P[b] = residuals of width b or less).
template <typename Visit>
void forEachClass(const int32_t (&h)[kHistogramBins], Visit&& visit) {
  int64_t P[kHistogramBins];
  int64_t running = 0;
  for (int b = 0; b < kHistogramBins; ++b) P[b] = running += h[b];
  for (int k = 0; k < kSearchClasses; ++k) {
    // Widths k+4..18 take the escape code (19 cannot occur in a coded block).
    const int64_t escapes = P[18] - P[k + 3];
    const int64_t bits = (k == 0 ? 1 : k + 2) * P[k] + (k + 3) * int64_t{h[k + 1]} + (k + 5) * int64_t{h[k + 2]} +
                         (k + 7) * int64_t{h[k + 3]} + int64_t{kEscapeCodeBits} * escapes;
    visit(k, bits);
  }
}


// The integer coefficient vectors nearest to the optimum u = 256 x in the
// metric of the squared error, (a - u)^T A (a - u). Rounding each
// coefficient on its own is not enough: the error of a tonal block has a
// long narrow valley (a pure tone is predicted by a whole line of
// third-order predictors), and the rounded optimum can lie far up its side
// while an integer vector elsewhere in the valley predicts almost exactly.
// So the vectors are enumerated a3 first, then a2, then a1, each around its
// optimum given the ones before (the error splits into
// d3 (a3 - u3)^2 + d2 (a2 - m2)^2 + d1 (a1 - m1)^2), within the radius of
// the kNearest best found so far. Returns how many it wrote, best first.
constexpr int kNearest = 8;

int nearestVectors(const Normal& q, const double (&x)[3], Coefficients (&out)[kNearest]) {
  const double u[3] = {x[0] * 256.0, x[1] * 256.0, x[2] * 256.0};
  // A small ridge keeps the split defined for a singular system.
  const double ridge = 1e-9 * (q.A[0][0] + q.A[1][1] + q.A[2][2]) + 1e-6;
  const double a11 = q.A[0][0] + ridge, a12 = q.A[0][1], a13 = q.A[0][2];
  const double b22 = q.A[1][1] + ridge - a12 * a12 / a11;
  const double b23 = q.A[1][2] - a12 * a13 / a11;
  const double b33 = q.A[2][2] + ridge - a13 * a13 / a11;
  const double d3 = b33 - b23 * b23 / b22;
  struct Found {
    Coefficients a;
    double q;
  } best[kNearest];
  int have = 0;
  double radius = 0;  // the error of the worst vector kept
  auto consider = [&](int32_t a1, int32_t a2, int32_t a3, double error) {
    for (int i = 0; i < have; ++i)
      if (best[i].a.a1 == a1 && best[i].a.a2 == a2 && best[i].a.a3 == a3) return;
    if (have == kNearest && error >= best[have - 1].q) return;
    int i = have < kNearest ? have++ : have - 1;
    for (; i > 0 && best[i - 1].q > error; --i) best[i] = best[i - 1];
    best[i] = {{a1, a2, a3}, error};
    radius = best[have - 1].q;
  };
  auto errorOf = [&](int32_t a1, int32_t a2, int32_t a3) {
    const double t[3] = {a1 - u[0], a2 - u[1], a3 - u[2]};
    double v = 0;
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) v += t[j] * t[k] * q.A[j][k];
    return v;
  };
  // The corners around u, each coefficient rounded down and up.
  int32_t lo[3], hi[3];
  for (int j = 0; j < 3; ++j) {
    lo[j] = clampTo(static_cast<int64_t>(std::floor(std::clamp(u[j], -1e6, 1e6))), j);
    hi[j] = clampTo(static_cast<int64_t>(std::ceil(std::clamp(u[j], -1e6, 1e6))), j);
  }
  for (int corner = 0; corner < 8; ++corner) {
    const int32_t a1 = (corner & 1) ? hi[0] : lo[0], a2 = (corner & 2) ? hi[1] : lo[1],
                  a3 = (corner & 4) ? hi[2] : lo[2];
    consider(a1, a2, a3, errorOf(a1, a2, a3));
  }
  if (!(a11 > 0 && b22 > 0 && d3 > 0)) return have;

  // Scans the integers of [low, high] outwards from m in both directions,
  // each direction while visit(v) returns true.
  auto outwards = [](double m, int32_t low, int32_t high, auto&& visit) {
    const int32_t start = static_cast<int32_t>(std::clamp(std::ceil(m), double{-1e6}, double{1e6}));
    for (int32_t v = std::max(start, low); v <= high; ++v)
      if (!visit(v)) break;
    for (int32_t v = std::min(start - 1, high); v >= low; --v)
      if (!visit(v)) break;
  };
  int budget = 4000;  // steps of the a2 scan: bounds the work on the flattest valleys
  outwards(u[2], kLow[2], kHigh[2], [&](int32_t a3) {
    const double t3 = a3 - u[2];
    const double e3 = d3 * t3 * t3;
    if (e3 > radius || budget <= 0) return false;
    const double m2 = u[1] - b23 / b22 * t3;
    outwards(m2, kLow[1], kHigh[1], [&](int32_t a2) {
      const double t2 = a2 - m2;
      const double e2 = e3 + b22 * t2 * t2;
      if (e2 > radius || --budget <= 0) return false;
      const double m1 = u[0] - (a12 * (a2 - u[1]) + a13 * t3) / a11;
      const int32_t f = clampTo(static_cast<int64_t>(std::floor(std::clamp(m1, -1e6, 1e6))), 0);
      const int32_t g = clampTo(static_cast<int64_t>(std::ceil(std::clamp(m1, -1e6, 1e6))), 0);
      consider(f, a2, a3, errorOf(f, a2, a3));
      if (g != f) consider(g, a2, a3, errorOf(g, a2, a3));
      return true;
    });
    return true;
  });
  for (int i = 0; i < have; ++i) out[i] = best[i].a;
  return have;
}

}  // namespace

bool inRange(const Coefficients& a) {
  return a.a1 >= kLow[0] && a.a1 <= kHigh[0] && a.a2 >= kLow[1] && a.a2 <= kHigh[1] && a.a3 >= kLow[2] &&
         a.a3 <= kHigh[2];
}

ClassCost cheapestClass(const int32_t (&h)[kHistogramBins]) {
  ClassCost best{0, -1};
  forEachClass(h, [&](int k, int64_t bits) {
    if (best.bits < 0 || bits < best.bits) best = {k, bits};
  });
  return best;
}

int64_t lowerBoundBits(const int32_t (&h)[kHistogramBins], int remaining) {
  int64_t bound = -1;
  forEachClass(h, [&](int k, int64_t bits) {
    const int64_t v = bits + int64_t{remaining} * (k == 0 ? 1 : k + 2);
    if (bound < 0 || v < bound) bound = v;
  });
  return bound;
}

bool costOf(const int16_t* s, int n, int c, const Coefficients& a, int64_t limitBits, ClassCost& out) {
  int32_t h[kHistogramBins] = {};
  int32_t residual[kChunk + kLanes];
  uint8_t width[kChunk + kLanes];
  for (int i = 0; i < n; i += kChunk) {
    const int length = std::min(kChunk, n - i);
    // Reads s[i - 3c .. i + length + 7]: the history's zero runs cover both ends.
    codec::detail::residualsOf(s + i, length, c, a, residual, width);
    int32_t chunk[kHistogramBins];
    codec::countWidths(width, length, chunk);
    for (int b = 0; b < kHistogramBins; ++b) h[b] += chunk[b];
    if (h[17] + h[18] + h[19] > 0) return false;
    if (lowerBoundBits(h, n - i - length) > limitBits) return false;
  }
  out = cheapestClass(h);
  return out.bits <= limitBits;
}

int candidatesOf(const int16_t* s, int n, int c, const codec::detail::Sums& sums, const Coefficients& reference,
                 Candidate (&out)[kMaxCandidates]) {
  const Normal q = normalOf(s, n, c, sums);
  int count = 0;
  auto add = [&](const Coefficients& a) {
    if (!inRange(a)) return;
    for (int i = 0; i < count; ++i)
      if (out[i].a.a1 == a.a1 && out[i].a.a2 == a.a2 && out[i].a.a3 == a.a3) return;
    if (count < kMaxCandidates) out[count++] = {a, squaredErrorOf(q, a)};
  };
  add(reference);
  // The optimum over the block's own samples; a singular system (a silent
  // block, a pure tone too short for three lags) falls back to fewer lags.
  double x[3];
  for (int m = 3; m >= 1; --m) {
    if (!solve(q, m, x)) continue;
    Coefficients near[kNearest];
    const int found = nearestVectors(q, x, near);
    for (int i = 0; i < found; ++i) add(near[i]);
    break;
  }
  add({256, 0, 0});     // first difference
  add({512, -256, 0});  // second difference
  add({768, -768, 256});  // third difference
  add({0, 0, 0});       // the samples themselves
  std::stable_sort(out, out + count,
                   [](const Candidate& x, const Candidate& y) { return x.squaredError < y.squaredError; });
  return count;
}

int32_t writeBlock(ConvertParams& params, const uint8_t* samples, uint8_t* code, const Choice& choice) {
  const int n = params.sampleCount;
  params.decodedCount = params.sampleCount;
  codec::CodedEstimate estimate;
  estimate.widthClass = choice.widthClass;
  estimate.bytes = choice.bytes;
  estimate.mustStore = !choice.coded;
  codec::EncodeFrame frame;
  const CodecResult r = codec::frameEncode(params, estimate, samples, code, frame);
  if (r != CodecResult::Ok || frame.stored) return static_cast<int32_t>(r);
  const History history(samples, n);
  int32_t residual[kMaxSamples + kLanes];
  uint8_t width[kMaxSamples + kLanes];
  codec::detail::residualsOf(history.samples(), n, params.channels, choice.a, residual, width);
  codec::detail::writeV22Body(frame.body, choice.bytes - kHeaderBytes, choice.a, residual, width, n,
                              choice.widthClass, codec::detail::BodyPath::Best);
  return NUBO_OK;
}

int32_t checkBlock(ConvertParams& params, const uint8_t* samples, const uint8_t* code) {
  const uint16_t written = params.codeSize;
  const int n = params.sampleCount;
  const auto decode = [](ConvertParams& p, uint8_t* out, const uint8_t* block) {
    ConvertParams q = p;
    q.flags = NUBO_FLAG_DECODE;
    q.coderVersion = 22;
    const int32_t result = NuboWaveConvert(&q, out, const_cast<uint8_t*>(block));
    p.codeSize = q.codeSize;
    p.decodedCount = q.decodedCount;
    return static_cast<CodecResult>(result);
  };
  const CodecResult v = codec::verifyBlock(params, samples, code, decode);
  if (v != CodecResult::Ok) return static_cast<int32_t>(v);
  if (params.codeSize != written || params.decodedCount != n) {
    params.codeSize = written;
    return NUBO_SIZE_MISMATCH;
  }
  return NUBO_OK;
}

}  // namespace detail

int32_t EncodeBlockV22Best(ConvertParams* paramsArg, const void* samplesArg, void* codeArg) {
  ConvertParams& params = *paramsArg;
  const auto* samples = static_cast<const uint8_t*>(samplesArg);
  auto* code = static_cast<uint8_t*>(codeArg);
  const int n = params.sampleCount;
  const int c = params.channels;
  if (c != 1 && c != 2) return NUBO_UNSUPPORTED_CHANNELS;
  params.decodedCount = params.sampleCount;
  if (n > kMaxSamples) return NUBO_TOO_MANY_SAMPLES;

  // The reference encoder's predictor, fitted from the same sums, is one of
  // the candidates, so no block comes out larger than the reference's.
  const detail::History history(samples, n);
  const codec::detail::Sums sums = codec::detail::sumsOf(history.samples(), n, c);
  const detail::Coefficients reference = codec::detail::fitFromSums(history.samples(), n, c, sums);
  detail::Candidate candidates[detail::kMaxCandidates];
  const int count = detail::candidatesOf(history.samples(), n, c, sums, reference, candidates);

  // A coded block of b code bits takes 2 + ceil((30 + b) / 8) bytes. The
  // first candidate must not exceed the stored size (a tie stays coded);
  // each later one must come out at least a byte smaller than the best.
  detail::Choice best;
  int64_t limitBits = 8 * (2 * int64_t{n}) - kV22HeadBits;
  for (int i = 0; i < count; ++i) {
    detail::ClassCost cost;
    if (!detail::costOf(history.samples(), n, c, candidates[i].a, limitBits, cost)) continue;
    best.coded = true;
    best.a = candidates[i].a;
    best.widthClass = cost.widthClass;
    best.bytes = codec::codedBlockBytes(kV22HeadBits, cost.bits);
    limitBits = 8 * (best.bytes - kHeaderBytes - 1) - kV22HeadBits;
  }

  const int32_t r = detail::writeBlock(params, samples, code, best);
  if (r != NUBO_OK) return r;

  return detail::checkBlock(params, samples, code);
}

}  // namespace nubo::search
