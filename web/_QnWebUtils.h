// The script-call manager: form fields and files for one of the maker's server scripts,
// sent through TIEHTTP (the default) or through the platform HTTP client, the reply as text.
#pragma once

#include <QString>
#include <memory>

#include "platform/net/HttpClient.h"
#include "platform/net/HttpForm.h"
#include "web/IEHTTP3.h"

class TQnHttpManager {
 public:
  TQnHttpManager();

  bool FlagIEHTTP = true;  // false: the platform HTTP client carries the calls
  std::unique_ptr<TIEHTTP> MyIEHTTP;
  std::unique_ptr<HttpClient> MyHTTPClient;

  void PhpScriptAddParam(const QString& AName, const QString& AValue);
  // The file at path `AValue` under field `AName`.
  void PhpScriptAddFile(const QString& AName, const QString& AValue);
  // Runs the script at `AScript`; the reply as text, whatever its status (an error page is
  // returned as text). Transport errors reach the caller and leave the fields in place.
  QString PhpScriptExecute(const QString& AScript);
  void PhpScriptParamsClear();

 private:
  std::unique_ptr<HttpForm> MyMultipartFormData;
};

// The shared manager, made and freed by the start-up list.
extern std::unique_ptr<TQnHttpManager> HttpManager;
