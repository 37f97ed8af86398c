// SPDX-License-Identifier: BSD-3-Clause
// Keeps a refusal readable. A command refused during a run is said on a
// status line that the run itself writes after every file; for a while after
// the refusal the run's texts for that line are kept back, and the last of
// them is shown when the while is over. Use it from one thread (the UI thread).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace nubo::ui {

class RefusalHold {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // How long a refusal stays on its line at least.
  static constexpr Clock::duration kHold = std::chrono::seconds(2);

  explicit RefusalHold(Now now = Clock::now) : now_(std::move(now)) {}
  void setClock(Now now) { now_ = std::move(now); }

  // A refusal is shown now: the hold starts (again).
  void refused() { until_ = now_() + kHold; }
  // Forgets the hold and any text kept back (a new run begins).
  void reset() {
    until_ = {};
    keptBack_.reset();
  }
  // Whether `text`, meant for the held line, must wait; if so it is kept as
  // the text to show when the hold is over, in place of any kept before.
  bool keepBack(const std::string& text);
  // The text kept back, once the hold is over (then it is given only once).
  std::optional<std::string> due();
  bool keepsBack() const { return keptBack_.has_value(); }
  // The text kept back, whether or not the hold is over.
  std::optional<std::string> takeKeptBack();
  // How long the hold still lasts (zero when it is over).
  Clock::duration remaining() const;

 private:
  Now now_;
  Clock::time_point until_{};
  std::optional<std::string> keptBack_;
};

inline bool RefusalHold::keepBack(const std::string& text) {
  if (now_() >= until_) {
    keptBack_.reset();  // the newer text replaces it
    return false;
  }
  keptBack_ = text;
  return true;
}

inline std::optional<std::string> RefusalHold::due() {
  if (!keptBack_ || now_() < until_) return std::nullopt;
  return takeKeptBack();
}

inline std::optional<std::string> RefusalHold::takeKeptBack() {
  std::optional<std::string> text;
  text.swap(keptBack_);
  return text;
}

inline RefusalHold::Clock::duration RefusalHold::remaining() const {
  const Clock::time_point now = now_();
  return now < until_ ? until_ - now : Clock::duration::zero();
}

}  // namespace nubo::ui
