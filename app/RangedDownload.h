// The package's ranges fetched with several in flight at once and written in order: every
// reply is held to the range it answers, transient failures are asked again after a wait,
// a server that refuses the extra connections gets fewer, and what is known to be good is
// remembered (ResumeRecord.h) so that a later run can continue.
//
// Threads: the user-interface thread; the callbacks run on it, inside Run.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>

#include "app/RangePlan.h"
#include "app/ResumeRecord.h"
#include "platform/base/Exception.h"

class HttpClient;
struct RangeReply;
class PackageFile;

struct PackageSource {
  QString Url;
  QString FileName;      // for messages
  qint64 Length = 0;     // the HEAD's length, more than 0
  QByteArray Validator;  // the HEAD's strong ETag, else its Last-Modified; empty for none
};

class RangedDownload {
 public:
  enum class End {
    Complete,        // every byte is in the file
    Stopped,         // Stopping answered true: the file holds the whole ranges written before
    PackageChanged,  // the server's package is no longer the one the HEAD described
  };

  // `connections` (at least 1) bounds the connections to the server; 1 also keeps one range
  // in flight at a time. The file continues after `file.Size()` bytes.
  RangedDownload(HttpClient& client, PackageFile& file, PackageSource source, int connections);

  std::function<bool()> Stopping = [] { return false; };  // the user closed the window
  std::function<void()> Pump;                             // keeps the window alive while nothing arrives
  std::function<void(qint64 settled)> Settled;            // bytes written or held, after every change

  // Raises Exception "Download of <name> failed at bytes=S-E: <why>" when a range fails for
  // good or a reply does not answer its range, and whatever the file raises.
  End Run();

 private:
  enum class Verdict { Taken, Retry, WholePackage, Changed };
  void askWhatMayBeAsked();
  void waitForRetries();
  Verdict judge(const RangeReply& reply, const PackageRange& range, int othersInFlight);
  void retryOrFail(const RangeReply& reply, const PackageRange& range, int othersInFlight, const QString& why);
  bool validatorChanged(const RangeReply& reply) const;
  void fallBackToFewer();
  void writeInOrder();
  void checkpoint(bool now);
  void checkpointOnTheWayOut();
  void keepWhatArrivedOnTheWayOut();
  Exception rangeError(const PackageRange& range, const QString& why) const;

  HttpClient& FClient;
  PackageFile& FFile;
  PackageSource FSource;
  RangePlan FPlan;
  int FConnections;
  int FWindow;
  bool FProbing = true;            // the first range goes alone: it shows whether the server honours Range
  std::map<qint64, int> FRetries;  // by first byte: how often the range was asked again
  ResumeRecord FRecord;
  qint64 FLastCheckpointMs = 0;
};
