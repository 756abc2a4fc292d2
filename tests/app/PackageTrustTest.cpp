// A package is checked before anything opens or starts it: against the maker's minisign
// signature when a public key is in force, and against the service's SHA-256 when it gave
// one. Keys and signatures are made by the real minisign tool.
#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>

#include "app/PackageSignature.h"
#include "settings/QnSharedFolders.h"
#include "tests/app/MainFormFixture.h"
#include "tools/DemoDownloadService.h"

namespace {

const QByteArray kSetup = "#!/bin/sh\necho installed\n" + PatternBytes(70000);

void Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  ASSERT_TRUE(process.waitForFinished(30000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
}

// A minisign key pair made in `folder`; answers the public key's base64 line.
QString MakeKeyPair(const TempFolder& folder, const QString& name) {
  Run("minisign", {"-G", "-W", "-p", folder.Path() + name + ".pub", "-s", folder.Path() + name + ".key"});
  return QString::fromLatin1(ReadFile(folder.Path() + name + ".pub").split('\n').value(1));
}

void Sign(const QString& file, const QString& secretKey, bool legacy,
          const QString& comment = "timestamp:1 file:setup") {
  QStringList arguments{"-S", "-s", secretKey, "-m", file, "-t", comment};
  if (legacy) arguments << "-l";
  Run("minisign", arguments);
}

class TrustFixture : public MainFormFixture {
 protected:
  void SetUp() override {
    makerKey = MakeKeyPair(keys, "maker");
    otherKey = MakeKeyPair(keys, "other");
    demo = std::make_unique<DemoDownloadService>(packages.StdPath(), "setup", "");
    CommonSettings = std::make_unique<TQngIniFile>(root.Path() + "qngcommon.ini");
  }
  void TearDown() override {
    MainFormFixture::TearDown();
    CommonSettings.reset();
  }

  void UseKey(const QString& key) { CommonSettings->ScriviValore(kCommonSection, "PackagePublicKey", key); }

  // Puts the package (and, when given, its signature) on the server, signed by `secret`.
  void Publish(const QByteArray& content, const QString& secret = {}, bool legacy = false) {
    const QString package = packages.Write("setup", content);
    QFile::remove(package + ".minisig");
    if (!secret.isEmpty()) Sign(package, keys.Path() + secret + ".key", legacy);
  }

  // Runs the road with "installa" from the reply, `extra` added to the reply's members.
  void Install(const std::string& extra = {}) {
    boxes.Boxes.clear();
    shell.Opened.clear();
    StartService(R"({"DownloadUrl":")" + demo->PackageUrl() +
                 R"(","DownloadFileName":"setup","TipoOperazione":"installa")" + extra + "}");
    MakeForm();
    ShowAndRunStart();
  }

  QString Target() const { return root.Path() + "Quarnell/Download/setup"; }

  // Nothing kept, nothing opened or started, the window there to be closed.
  void ExpectRefused(const QString& reason) {
    EXPECT_EQ(boxes.Texts(), QStringList{"The package \"setup\" was refused: " + reason + "."});
    EXPECT_FALSE(QFileInfo::exists(Target()));
    EXPECT_TRUE(shell.Opened.isEmpty()) << shell.Opened.join(",").toStdString();
    EXPECT_FALSE(form->isHidden());
    application->ProcessMessages();
    EXPECT_FALSE(application->Terminated());
  }

  void ExpectStarted() {
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.Texts().join("|").toStdString();
    EXPECT_EQ(shell.Opened, QStringList{Target()});
    EXPECT_EQ(ReadFile(Target()), kSetup);
  }

  TempFolder keys;
  TempFolder packages;
  QString makerKey;
  QString otherKey;
  std::unique_ptr<DemoDownloadService> demo;
};

QString KeyIdOf(const QString& keyLine) {
  QByteArray id = QByteArray::fromBase64(keyLine.toLatin1()).mid(2, 8);
  std::reverse(id.begin(), id.end());
  return QString::fromLatin1(id.toHex().toUpper());
}

}  // namespace

TEST_F(TrustFixture, APackageSignedByTheKeyInForceIsStarted) {
  UseKey(makerKey);
  for (const bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy Ed" : "prehashed ED");
    Publish(kSetup, "maker", legacy);
    QFile::remove(Target());
    Install();
    ExpectStarted();
    int signatureFetches = 0;
    for (const HttpRequest& request : demo->Server().Requests())
      signatureFetches += request.Target == "/packages/setup.minisig";
    EXPECT_GE(signatureFetches, 1);
  }
}

TEST_F(TrustFixture, EveryBadSignatureIsRefusedWithItsReason) {
  UseKey(makerKey);
  const QString url = QString::fromStdString(demo->PackageUrl()) + ".minisig";
  struct Case {
    const char* name;
    std::function<void()> publish;
    QString reason;
  };
  const Case cases[] = {
      {"tampered package",
       [this] {
         Publish(kSetup, "maker");
         QByteArray changed = kSetup;
         changed[40000] = static_cast<char>(changed[40000] ^ 1);
         packages.Write("setup", changed);
       },
       "its signature does not match the package"},
      {"tampered package, legacy signature",
       [this] {
         Publish(kSetup, "maker", true);
         packages.Write("setup", kSetup + "\n");
       },
       "its signature does not match the package"},
      {"tampered trusted comment",
       [this] {
         Publish(kSetup, "maker");
         const QString signature = packages.Path() + "setup.minisig";
         QByteArray text = ReadFile(signature);
         text.replace("timestamp:1", "timestamp:2");
         packages.Write("setup.minisig", text);
       },
       "the trusted comment of its signature has been altered"},
      {"another key", [this] { Publish(kSetup, "other"); },
       "it was signed with another key (key ID " + KeyIdOf(otherKey) + ", the key in force is " + KeyIdOf(makerKey) +
           ")"},
      {"no signature", [this] { Publish(kSetup); },
       "its signature could not be fetched from " + url + " (HTTP/1.1 404 Not Found)"},
      {"garbage signature",
       [this] {
         Publish(kSetup);
         packages.Write("setup.minisig", "this is not a signature\n");
       },
       "the signature file is malformed: it does not have four lines"},
      {"signature line not base64",
       [this] {
         Publish(kSetup, "maker");
         QList<QByteArray> lines = ReadFile(packages.Path() + "setup.minisig").split('\n');
         lines[1] = "RW!!" + lines[1].mid(4);
         packages.Write("setup.minisig", lines.join('\n'));
       },
       "the signature file is malformed: the signature line is not a signature"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.publish();
    Install();
    ExpectRefused(c.reason);
  }
}

TEST_F(TrustFixture, SaveOnlyOpensNoFolderForABadPackage) {
  UseKey(makerKey);
  Publish(kSetup, "other");
  boxes.Boxes.clear();
  StartService(R"({"DownloadUrl":")" + demo->PackageUrl() +
               R"(","DownloadFileName":"setup","TipoOperazione":"salva"})");
  MakeForm();
  ShowAndRunStart();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_TRUE(boxes.Boxes[0].Text.startsWith("The package \"setup\" was refused: it was signed with another key"));
  EXPECT_TRUE(shell.Opened.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(Target()));
}

TEST_F(TrustFixture, AnUnusableKeyInForceRefusesEveryPackage) {
  Publish(kSetup, "maker");
  UseKey("not a key");
  Install();
  ExpectRefused("the package public key in force cannot be used (the public key is not base64 text)");
}

TEST_F(TrustFixture, WithoutAKeyPackagesAreNotChecked) {
  Publish(kSetup);
  Install();
  ExpectStarted();
  for (const HttpRequest& request : demo->Server().Requests()) EXPECT_NE(request.Target, "/packages/setup.minisig");
}

TEST_F(TrustFixture, TheServicesSha256IsCheckedWhenGiven) {
  Publish(kSetup);
  const std::string good = QCryptographicHash::hash(kSetup, QCryptographicHash::Sha256).toHex().toStdString();
  const std::string other = QCryptographicHash::hash("other", QCryptographicHash::Sha256).toHex().toStdString();

  Install(R"(,"DownloadSha256":")" + QString::fromStdString(good).toUpper().toStdString() + "\"");
  ExpectStarted();

  Install(R"(,"DownloadSha256":")" + other + "\"");
  ExpectRefused(QString::fromStdString("its SHA-256 is " + good + ", the service announced " + other));

  Install(R"(,"DownloadSha256":"12ab")");
  ExpectRefused("the service's DownloadSha256 \"12ab\" is not 64 hexadecimal digits");

  // Both checks when both are in force: the hash first, then the signature.
  UseKey(makerKey);
  Publish(kSetup, "maker");
  Install(R"(,"DownloadSha256":")" + good + "\"");
  ExpectStarted();
}

// The parsers take a stranger's bytes: every malformed input is refused with a reason.
TEST(PackageSignatureParse, MalformedInputsAreRefused) {
  TempFolder keys;
  const QString key = MakeKeyPair(keys, "k");
  const QString file = keys.Write("pkg", "package");
  Sign(file, keys.Path() + "k.key", false);
  const QByteArray good = ReadFile(file + ".minisig");
  const QList<QByteArray> lines = good.split('\n');
  QString reason;
  ASSERT_TRUE(ParsePackageSignature(good, reason)) << reason.toStdString();
  QByteArray crlf = good;
  crlf.replace("\n", "\r\n");
  EXPECT_TRUE(ParsePackageSignature(crlf, reason));

  const QByteArray garbage64 = QByteArray(74, 'x').toBase64();
  struct Case {
    QByteArray bytes;
    QString reason;
  };
  const Case cases[] = {
      {"", "it does not have four lines"},
      {lines[0] + "\n" + lines[1] + "\n" + lines[2], "it does not have four lines"},
      {"comment\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3], "the first line is not a comment"},
      {lines[0] + "\n" + lines[1].left(20) + "\n" + lines[2] + "\n" + lines[3],
       "the signature line is not a signature"},
      {lines[0] + "\n" + garbage64 + "\n" + lines[2] + "\n" + lines[3], "the signature kind is unknown"},
      {lines[0] + "\n" + lines[1] + "\nnot trusted\n" + lines[3], "the trusted comment is missing"},
      {lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3].left(40),
       "the global signature line is not a signature"},
      {lines[0] + "\n" + lines[1] + "\ntrusted comment: " + QByteArray(9000, 'c') + "\n" + lines[3],
       "a line is too long"},
      {QByteArray("\0\0\0\n\0\n\0\n\0", 10), "the first line is not a comment"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason.toStdString());
    EXPECT_FALSE(ParsePackageSignature(c.bytes, reason));
    EXPECT_EQ(reason, "the signature file is malformed: " + c.reason);
  }

  const QByteArray publicFile = ReadFile(keys.Path() + "k.pub");
  EXPECT_TRUE(ParsePackagePublicKey(key.toLatin1(), reason));
  EXPECT_TRUE(ParsePackagePublicKey(publicFile, reason));
  EXPECT_FALSE(ParsePackagePublicKey("", reason));
  EXPECT_EQ(reason, "the public key is not base64 text");
  EXPECT_FALSE(ParsePackagePublicKey(QByteArray(42, 'x').toBase64(), reason));
  EXPECT_EQ(reason, "the public key is not a minisign Ed25519 key");
  EXPECT_FALSE(ParsePackagePublicKey(key.toLatin1().left(20), reason));
}
