#include "web/_QnWebUtils.h"

#include "platform/base/TextCodec.h"

std::unique_ptr<TQnHttpManager> HttpManager;

TQnHttpManager::TQnHttpManager()
    : MyIEHTTP(std::make_unique<TIEHTTP>()),
      MyHTTPClient(std::make_unique<HttpClient>()),
      MyMultipartFormData(std::make_unique<HttpForm>()) {
  // Script calls send no headers but the form's own, and an error page is a reply like any other.
  MyHTTPClient->ClearRequestHeaders();
  MyHTTPClient->SetRaisesOnErrorStatus(false);
}

void TQnHttpManager::PhpScriptAddParam(const QString& AName, const QString& AValue) {
  if (!FlagIEHTTP) {
    MyMultipartFormData->AddFormField(AName, AValue, QStringLiteral("text/plain"), QString());
    return;
  }
  MyIEHTTP->SetRequestMethod(QStringLiteral("POST"));
  MyIEHTTP->SetMultipartPOST(true);
  MyIEHTTP->AddMultipartVar(AName, AValue);
}

void TQnHttpManager::PhpScriptAddFile(const QString& AName, const QString& AValue) {
  if (FlagIEHTTP)
    MyIEHTTP->AddMultipartFile(AName, AValue);  // not in multipart mode yet: recorded in error_msg only
  else
    MyMultipartFormData->AddFormFile(AName, AValue);
}

QString TQnHttpManager::PhpScriptExecute(const QString& AScript) {
  QString reply;
  if (FlagIEHTTP) {
    MyIEHTTP->ExecuteURL(AScript);
    for (const QString& line : MyIEHTTP->result_sl) reply += line + QStringLiteral("\r\n");
    MyIEHTTP->SetRequestMethod(QStringLiteral("GET"));
    MyIEHTTP->SetMultipartPOST(false);
  } else {
    reply = FromWindows1252(MyHTTPClient->Post(AScript, *MyMultipartFormData));
  }
  PhpScriptParamsClear();
  return reply;
}

void TQnHttpManager::PhpScriptParamsClear() {
  MyIEHTTP->multipartVars.clear();
  MyIEHTTP->multipartBinaryVars.clear();
  MyMultipartFormData = std::make_unique<HttpForm>();
}
