#pragma once

namespace platform {

// A moment, kept as the platform keeps it: seconds since the reference date
// 2001-01-01 00:00:00 UTC.
class Date {
 public:
  static constexpr double timeIntervalBetween1970AndReferenceDate = 978307200.0;

  constexpr Date() = default;
  static constexpr Date withTimeIntervalSinceReferenceDate(double seconds) { return Date(seconds); }
  static constexpr Date withTimeIntervalSince1970(double seconds) {
    return Date(seconds - timeIntervalBetween1970AndReferenceDate);
  }

  constexpr double timeIntervalSinceReferenceDate() const { return seconds_; }
  constexpr double timeIntervalSince1970() const { return seconds_ + timeIntervalBetween1970AndReferenceDate; }

  constexpr bool operator==(const Date& other) const { return seconds_ == other.seconds_; }

 private:
  constexpr explicit Date(double seconds) : seconds_(seconds) {}
  double seconds_ = 0.0;
};

}  // namespace platform
