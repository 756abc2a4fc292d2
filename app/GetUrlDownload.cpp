// The query to the download service and how its reply sets up the window.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/DownloadServerSetting.h"
#include "app/JsonStringValue.h"
#include "app/OmbreviaMainForm.h"
#include "platform/base/Dialogs.h"
#include "platform/base/Paths.h"
#include "platform/base/ProgressSink.h"
#include "platform/net/HttpForm.h"
#include "platform/os/Environment.h"

namespace {

// The service answers a few hundred bytes; anything past this is not a reply of its.
constexpr qint64 kMaxReplyBytes = 16 * 1024 * 1024;

QString postQuery(const QString& serviceUrl, const QString& tipoChiave, const QString& osPlatform) {
  HttpClient client;  // a fresh client: the query raises none of the download's progress events
  client.SetMaxBodySize(kMaxReplyBytes);
  client.SetTransportSecurity({CaCertificatesSetting()});
  HttpForm form;
  const BusyScope busy;
  form.AddFormField(QStringLiteral("action"), QStringLiteral("Ombrevia"));
  form.AddFormField(QStringLiteral("Sender"), paths::ExtractBareName(Environment::Current().ExecutablePath()));
  form.AddFormField(QStringLiteral("TipoChiave"), tipoChiave);
  form.AddFormField(QStringLiteral("SistemaOperativo"), osPlatform);
  return QString::fromUtf8(client.Post(serviceUrl, form));
}

}  // namespace

void TMainFormDownloadSetup::GetUrlDownload(QObject* Sender) {
  FTipoChiave.clear();
  FOSPlatform =
      Environment::Current().Is64BitSystem() ? QStringLiteral("64-bit Linux") : QStringLiteral("32-bit Linux");
  const QString reply = postQuery(FServiceUrl, FTipoChiave, FOSPlatform);
  if (reply.isEmpty()) {
    ShowMessage(QStringLiteral("Errore: impossibile connettersi al server."));
    return;
  }
  FDownloadUrl = GetJsonStringValue(reply, QStringLiteral("DownloadUrl"));
  FDownloadFileName = GetJsonStringValue(reply, QStringLiteral("DownloadFileName"));
  const QString operation = GetJsonStringValue(reply, QStringLiteral("TipoOperazione"));
  FDownloadSha256 = GetJsonStringValue(reply, QStringLiteral("DownloadSha256"));
  FDownloadPercorsoNomeFile = paths::IncludeTrailingPathDelimiter(FPercorsoDest) + FDownloadFileName;
  LabelAvanzamento->setText(QStringLiteral("Download... ") + FDownloadFileName);
  if (operation.isEmpty()) return;

  ButtonSalva->setEnabled(false);
  ButtonSalvaEInstalla->setEnabled(false);
  ButtonSelectFolder->setEnabled(false);
  if (operation == QLatin1String("salva")) {
    ButtonSalvaClick(Sender);
  } else if (operation == QLatin1String("installa")) {
    for (QWidget* control : {static_cast<QWidget*>(LabelSalvaIn), static_cast<QWidget*>(EditDestFolder),
                             static_cast<QWidget*>(ButtonSelectFolder), static_cast<QWidget*>(ButtonSalva),
                             static_cast<QWidget*>(ButtonSalvaEInstalla), static_cast<QWidget*>(ButtonChiudi)})
      control->hide();
    ButtonSalvaEInstallaClick(Sender);
  }
}
