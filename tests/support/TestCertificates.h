// A test CA and the server certificates it signs, made with openssl in a test's folder.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>

#include "tests/support/TempFolder.h"

// Runs openssl with `arguments`; a failure fails the test with openssl's own words.
inline void Openssl(const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start("openssl", arguments);
  ASSERT_TRUE(process.waitForFinished(30000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
}

class TestCertificates {
 public:
  // Makes the CA: ca.pem and ca.key in `folder`.
  explicit TestCertificates(const TempFolder& folder) : FFolder(folder) {
    Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             Path("ca.key"), "-out", Path("ca.pem"), "-days", "30", "-subj", "/CN=Download Test CA", "-addext",
             "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
  }

  QString Path(const QString& name) const { return FFolder.Path() + name; }

  // A server certificate `name`.pem with its key `name`.key, for `altNames`, valid `days`
  // from now (negative: already expired).
  void Issue(const QString& name, const QString& altNames, int days) {
    FFolder.Write(name + ".ext", ("subjectAltName=" + altNames + "\n").toUtf8());
    Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
             Path(name + ".key"), "-out", Path(name + ".csr"), "-subj", "/CN=" + name});
    Openssl({"x509", "-req", "-in", Path(name + ".csr"), "-CA", Path("ca.pem"), "-CAkey", Path("ca.key"),
             "-CAcreateserial", "-out", Path(name + ".pem"), "-days", QString::number(days), "-extfile",
             Path(name + ".ext")});
  }

 private:
  const TempFolder& FFolder;
};
