#include "platform/base/Wildcards.h"

bool MatchesFileMask(const QString& name, const QString& mask) {
  if (mask == QLatin1String("*.*") || mask == QLatin1String("*")) return true;
  // Greedy match with one back-track point: linear in practice, never exponential.
  qsizetype n = 0, m = 0, starAt = -1, resumeAt = 0;
  auto same = [](QChar a, QChar b) { return a.toCaseFolded() == b.toCaseFolded(); };
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == QLatin1Char('?') || (mask[m] != QLatin1Char('*') && same(mask[m], name[n])))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == QLatin1Char('*')) {
      starAt = m++;
      resumeAt = n;
    } else if (starAt >= 0) {
      m = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == QLatin1Char('*')) ++m;
  return m == mask.size();
}
