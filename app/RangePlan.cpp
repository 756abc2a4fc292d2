#include "app/RangePlan.h"

#include <algorithm>

QByteArray PackageRange::Header() const {
  return "bytes=" + QByteArray::number(First) + '-' + QByteArray::number(AskedEnd);
}

PackageRange RangeAt(qint64 first, qint64 length) {
  PackageRange range;
  range.First = first;
  range.AskedEnd = first + kRangeSize < length ? first + kRangeSize - 1 : length;
  range.Last = std::min(range.AskedEnd, length - 1);
  return range;
}

RangePlan::RangePlan(qint64 length, qint64 written) : FLength(length), FWritten(written), FNextFresh(written) {}

void RangePlan::SetWindow(int ranges) { FWindow = std::max(1, ranges); }

std::optional<PackageRange> RangePlan::NextToAsk(qint64 nowMs) {
  // The held ranges wait for the given-back ones: counting them here would stall the plan
  // for good once the window has shrunk below what is held. A range given back was counted
  // when first asked, so asking it again adds nothing to memory.
  if (FInFlight >= FWindow) return std::nullopt;
  for (auto retry = FRetries.begin(); retry != FRetries.end(); ++retry) {
    if (retry->second > nowMs) continue;
    const qint64 first = retry->first;
    FRetries.erase(retry);
    ++FInFlight;
    return RangeAt(first, FLength);
  }
  // A fresh range far ahead of the first missing byte would be held for long: the window
  // counts from the first byte not yet written.
  if (FInFlight + static_cast<qint64>(FHeld.size()) >= FWindow) return std::nullopt;
  if (FNextFresh >= FLength || FNextFresh >= FWritten + FWindow * kRangeSize) return std::nullopt;
  const PackageRange range = RangeAt(FNextFresh, FLength);
  FNextFresh = range.Last + 1;
  ++FInFlight;
  return range;
}

std::optional<qint64> RangePlan::NextRetryAt() const {
  if (FRetries.empty()) return std::nullopt;
  return std::min_element(FRetries.begin(), FRetries.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->second;
}

void RangePlan::GiveBack(const PackageRange& range, qint64 notBeforeMs) {
  --FInFlight;
  FRetries[range.First] = notBeforeMs;
}

void RangePlan::Arrived(const PackageRange& range, QByteArray body) {
  --FInFlight;
  FHeldBytes += body.size();
  FHeld[range.First] = std::move(body);
}

QByteArray RangePlan::TakeWritable() {
  QByteArray writable;
  for (auto next = FHeld.find(FWritten + writable.size()); next != FHeld.end();
       next = FHeld.find(FWritten + writable.size())) {
    writable += next->second;
    FHeldBytes -= next->second.size();
    FHeld.erase(next);
  }
  FWritten += writable.size();
  return writable;
}
