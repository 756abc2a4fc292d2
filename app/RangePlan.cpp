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

bool RangePlan::windowFull() const { return FInFlight + static_cast<int>(FHeld.size()) >= FWindow; }

std::optional<PackageRange> RangePlan::NextToAsk(qint64 nowMs) {
  // The range the file waits for is asked again even when the window is full: a window that
  // shrank may be full of ranges held behind it, which only its arrival lets out.
  const auto awaited = FRetries.find(FWritten);
  if (awaited != FRetries.end() && awaited->second <= nowMs) return askAgain(awaited);
  if (windowFull()) return std::nullopt;
  for (auto retry = FRetries.begin(); retry != FRetries.end(); ++retry)
    if (retry->second <= nowMs) return askAgain(retry);
  // A fresh range far ahead of the first missing byte would be held for long: the window
  // counts from the first byte not yet written.
  if (FNextFresh >= FLength || FNextFresh >= FWritten + FWindow * kRangeSize) return std::nullopt;
  const PackageRange range = RangeAt(FNextFresh, FLength);
  FNextFresh = range.Last + 1;
  ++FInFlight;
  return range;
}

PackageRange RangePlan::askAgain(std::map<qint64, qint64>::iterator retry) {
  const qint64 first = retry->first;
  FRetries.erase(retry);
  ++FInFlight;
  return RangeAt(first, FLength);
}

std::optional<qint64> RangePlan::NextRetryAt() const {
  if (windowFull()) {
    const auto awaited = FRetries.find(FWritten);
    return awaited == FRetries.end() ? std::nullopt : std::optional(awaited->second);
  }
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
