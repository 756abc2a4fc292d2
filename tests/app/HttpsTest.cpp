// HTTPS on the download road: a TLS server on 127.0.0.1 with certificates made by openssl in
// the test. Trusted only through "CaCertificates"; refused for another host name or an
// expired certificate, with a message that says which host and why.
#include <httplib.h>

#include <QFileInfo>
#include <thread>

#include "platform/net/HttpClient.h"
#include "settings/QnSharedFolders.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/TestCertificates.h"
#include "tools/DemoDownloadService.h"

namespace {

// The download service and its package over TLS with the certificate `name`.
class TlsService {
 public:
  TlsService(const TestCertificates& certificates, const QString& name, QByteArray package)
      : FServer(certificates.Path(name + ".pem").toStdString().c_str(),
                certificates.Path(name + ".key").toStdString().c_str()),
        FPackage(std::move(package)) {
    FServer.Post("/web_download/GetUrlDownload.php", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"({"DownloadUrl":")" + BaseUrl() + R"(/packages/pkg.bin","DownloadFileName":"pkg.bin"})",
                           "application/json");
    });
    // The ranges are answered here, and the server's own range support is kept out: it echoes
    // a last position past the end instead of reading it as the end.
    FServer.Get("/packages/pkg.bin", [this](const httplib::Request& request, httplib::Response& response) {
      const_cast<httplib::Request&>(request).ranges.clear();
      std::uint64_t first = 0, last = 0;
      if (!ParseByteRange(request.get_header_value("Range"), FPackage.size(), first, last)) {
        response.set_content(FPackage.toStdString(), "application/octet-stream");
        return;
      }
      response.status = 206;
      response.set_header("Content-Range", "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' +
                                               std::to_string(FPackage.size()));
      response.set_content(
          FPackage.mid(static_cast<qsizetype>(first), static_cast<qsizetype>(last - first + 1)).toStdString(),
          "application/octet-stream");
    });
    FPort = FServer.bind_to_any_port("127.0.0.1");
    FThread = std::thread([this] { FServer.listen_after_bind(); });
  }
  ~TlsService() {
    FServer.stop();
    FThread.join();
  }

  std::string BaseUrl() const { return "https://127.0.0.1:" + std::to_string(FPort); }

 private:
  httplib::SSLServer FServer;
  QByteArray FPackage;
  int FPort = 0;
  std::thread FThread;
};

class HttpsFixture : public MainFormFixture {
 protected:
  void SetUp() override {
    CommonSettings = std::make_unique<TQngIniFile>(root.Path() + "qngcommon.ini");
    certificates.Issue("good", "IP:127.0.0.1,DNS:localhost", 30);
  }
  void TearDown() override {
    MainFormFixture::TearDown();
    CommonSettings.reset();
  }

  void TrustTestCa() { CommonSettings->ScriviValore(kCommonSection, "CaCertificates", certificates.Path("ca.pem")); }

  // Shows the window against `tls` and answers the one box shown, if any.
  QString RunQuery(const TlsService& tls) {
    boxes.Boxes.clear();
    MakeForm(QString::fromStdString(tls.BaseUrl() + "/web_download/GetUrlDownload.php"));
    form->show();
    for (int turn = 0; turn < 400 && boxes.Boxes.empty() && form->DownloadUrl().isEmpty(); ++turn) {
      application->ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return boxes.Boxes.empty() ? QString() : boxes.Boxes[0].Text;
  }

  TempFolder folder;
  TestCertificates certificates{folder};
};

}  // namespace

TEST_F(HttpsFixture, AServerCertifiedByTheExtraCaIsTrustedForTheWholeRoad) {
  const QByteArray package = PatternBytes(100000);
  TlsService tls(certificates, "good", package);
  TrustTestCa();
  EXPECT_EQ(RunQuery(tls), QString());
  ASSERT_EQ(form->DownloadUrl().toStdString(), tls.BaseUrl() + "/packages/pkg.bin");
  form->ButtonSalva->click();
  EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join("|").toStdString();
  EXPECT_EQ(ReadFile(root.Path() + "Quarnell/Download/pkg.bin"), package);
  EXPECT_EQ(shell.Opened, QStringList{root.Path() + "Quarnell/Download/"});
}

TEST_F(HttpsFixture, AnUntrustedWrongOrExpiredCertificateIsRefusedSayingWhy) {
  certificates.Issue("otherhost", "DNS:other.example", 30);
  certificates.Issue("expired", "IP:127.0.0.1,DNS:localhost", -1);
  struct Case {
    const char* certificate;
    bool trustCa;
    QString why;
  };
  const Case cases[] = {
      {"good", false, "SSL certificate problem: unable to get local issuer certificate"},
      {"otherhost", true, "SSL: no alternative certificate subject name matches target host name '127.0.0.1'"},
      {"expired", true, "SSL certificate problem: certificate has expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate);
    CommonSettings->ScriviValore(kCommonSection, "CaCertificates", c.trustCa ? certificates.Path("ca.pem") : QString());
    TlsService tls(certificates, c.certificate, "package");
    const QString host = "127.0.0.1:" + QString::fromStdString(tls.BaseUrl()).section(':', -1);
    EXPECT_EQ(RunQuery(tls), "The secure connection to " + host + " was refused: " + c.why);
    EXPECT_EQ(boxes.Boxes[0].Kind, MessageKind::Error);
    EXPECT_TRUE(form->DownloadUrl().isEmpty());
  }
}

TEST_F(HttpsFixture, ThePackageServersCertificateIsCheckedToo) {
  // The service is trusted; the package comes from a server whose certificate has expired.
  certificates.Issue("expired", "IP:127.0.0.1", -1);
  TlsService packageServer(certificates, "expired", "package");
  TrustTestCa();
  StartService(R"({"DownloadUrl":")" + packageServer.BaseUrl() +
               R"(/packages/pkg.bin","DownloadFileName":"pkg.bin","TipoOperazione":"installa"})");
  MakeForm();
  ShowAndRunStart();
  for (int turn = 0; turn < 400 && boxes.Boxes.empty(); ++turn) application->ProcessMessages();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_TRUE(boxes.Boxes[0].Text.endsWith("was refused: SSL certificate problem: certificate has expired"))
      << boxes.Boxes[0].Text.toStdString();
  EXPECT_FALSE(QFileInfo::exists(root.Path() + "Quarnell/Download/pkg.bin"));
  EXPECT_TRUE(shell.Opened.isEmpty());
}

TEST(TransportSecurity, TheExtraCaIsAddedToTheSystemStoreNotInItsPlace) {
  TempFolder folder;
  TestCertificates certificates(folder);
  const QByteArray extra = ReadFile(certificates.Path("ca.pem"));
  const QByteArray bundle = CaBundleWith(certificates.Path("ca.pem"));
  EXPECT_TRUE(bundle.endsWith(extra));
  const QByteArray system = ReadFile("/etc/ssl/certs/ca-certificates.crt");
  if (!system.isEmpty()) {
    EXPECT_TRUE(bundle.startsWith(system));
    EXPECT_GT(bundle.count("-----BEGIN CERTIFICATE-----"), 1);
  }

  folder.Write("empty.pem", "no certificate here");
  for (const QString& bad : {folder.Path() + "missing.pem", folder.Path() + "empty.pem"}) {
    try {
      CaBundleWith(bad);
      ADD_FAILURE() << "accepted " << bad.toStdString();
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(),
                "The CA certificates file \"" + bad + "\" cannot be read or holds no PEM certificate.");
    }
  }
}
