#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <QFile>
#include <QProcess>

#include "tests/support/TempFolder.h"
#include "web/gunzip.h"

namespace {

const QByteArray kSignature("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8);

QByteArray gzipWithTool(const QByteArray& data) {
  QProcess gzip;
  gzip.start("gzip", {"-n", "-c"});
  gzip.write(data);
  gzip.closeWriteChannel();
  gzip.waitForFinished(60000);
  return gzip.readAllStandardOutput();
}

QByteArray zlibCompressed(const QByteArray& data) {
  uLongf size = compressBound(data.size());
  QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
  compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()), data.size());
  out.resize(static_cast<qsizetype>(size));
  return out;
}

QByteArray decoded(const QByteArray& body, const QString& url = "http://h/x.php", char method = 0) {
  auto stream = std::make_unique<QBuffer>();
  stream->setData(body);
  stream->open(QIODevice::ReadWrite);
  stream->seek(std::min<qint64>(3, body.size()));  // DecodeContent must rewind
  DecodeContent(stream, url, method);
  EXPECT_EQ(stream->pos(), 0);
  return stream->data();
}

}  // namespace

TEST(Gunzip, RecognitionAndMethods) {
  const QByteArray text = QByteArray("Ombrevia reply ").repeated(1000);
  const QByteArray gz = gzipWithTool(text);
  ASSERT_TRUE(gz.startsWith(kSignature));
  EXPECT_EQ(decoded(gz), text);  // 'Z' fails on the gzip header at offset 8, 'G' decodes
  EXPECT_EQ(decoded(gz, "", 'G'), text);
  EXPECT_EQ(decoded(gz, "http://h/page.ASP?x", 'Z'), text);  // ".asp" forces 'G'
  const QByteArray zlibAfterSignature = kSignature + zlibCompressed(text);
  EXPECT_EQ(decoded(zlibAfterSignature), text);  // 'Z' at offset 8, the default

  QByteArray withTime = gz;
  withTime[4] = 1;
  QByteArray withFlag = gz;
  withFlag[3] = 0x08;
  for (const QByteArray& untouched : {withTime, withFlag, QByteArray("plain text body"), QByteArray("\x1F\x8B")})
    EXPECT_EQ(decoded(untouched), untouched);
}

TEST(Gunzip, DamagedBodiesGiveWhatCouldBeDecoded) {
  const QByteArray data = PatternBytes(200000).toHex();
  const QByteArray gz = gzipWithTool(data);
  QByteArray wrongCrc = gz;
  wrongCrc[gz.size() - 8] = static_cast<char>(wrongCrc[gz.size() - 8] ^ 1);
  EXPECT_EQ(decoded(wrongCrc), data);  // full data, no error
  const QByteArray truncated = decoded(gz.left(gz.size() / 2));
  EXPECT_GT(truncated.size(), 0);
  EXPECT_TRUE(data.startsWith(truncated));
  EXPECT_EQ(decoded(gz + "trailing"), data + "trailing");
  EXPECT_EQ(decoded(gz + gzipWithTool("second")), data + "second");
}

TEST(Gunzip, ABombStopsAtTheCap) {
  // 24 MiB of zeros squeezed into about 24 KB: decoding keeps what the cap allows and stops.
  const QByteArray gz = gzipWithTool(QByteArray(24 << 20, '\0'));
  ASSERT_TRUE(gz.startsWith(kSignature));
  ASSERT_LT(gz.size(), 100000);
  constexpr qint64 kCap = 4 << 20;
  for (const char method : {'Z', 'G'}) {
    auto stream = std::make_unique<QBuffer>();
    stream->setData(gz);
    stream->open(QIODevice::ReadWrite);
    DecodeContent(stream, "http://h/x.php", method, kCap);
    EXPECT_EQ(stream->size(), kCap) << method;
  }
}

TEST(Gunzip, ATrailerThatClaimsGigabytesSizesNothing) {
  // 18 bytes: an empty deflate block and a trailer whose size field says 4 GiB - 1.
  const QByteArray claim = QByteArray::fromHex("1f8b08000000000000030300000000ffffffff");
  for (const char method : {'\0', 'Z', 'G'}) {
    QByteArray out;
    EXPECT_NO_THROW(out = decoded(claim, "http://h/x.php", method)) << int(method);
    EXPECT_TRUE(out.isEmpty()) << int(method);
  }
  QBuffer source;
  source.setData(claim);
  source.open(QIODevice::ReadOnly);
  EXPECT_LT(GunzipStream(source)->buffer().capacity(), 1 << 20);

#if !defined(__SANITIZE_ADDRESS__)
  // Where address space is short (512 MiB more than this process maps now), nothing escapes either.
  QFile status("/proc/self/status");
  ASSERT_TRUE(status.open(QIODevice::ReadOnly));
  rlim_t mapped = 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmSize:")) mapped = line.mid(7).trimmed().split(' ').value(0).toULongLong() * 1024;
  ASSERT_GT(mapped, 0u);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{mapped + (512u << 20), mapped + (512u << 20)};
    setrlimit(RLIMIT_AS, &limit);
    int failures = 0;
    for (const char method : {'Z', 'G'}) {
      try {
        auto stream = std::make_unique<QBuffer>();
        stream->setData(claim);
        stream->open(QIODevice::ReadWrite);
        DecodeContent(stream, "http://h/x.php", method);
        failures += stream->size() == 0 ? 0 : 1;
      } catch (...) {
        ++failures;
      }
    }
    _exit(failures);
  }
  int exit = 0;
  waitpid(child, &exit, 0);
  EXPECT_TRUE(WIFEXITED(exit));
  EXPECT_EQ(WEXITSTATUS(exit), 0);
#endif
}
