// Package signatures and public keys in the minisign format, as the download receives them
// (a .minisig beside the package, a key from the settings). Every input is read both as a
// public key and as a signature. Beyond not crashing:
//  - what parses has the sizes of its format, and a failure always says why;
//  - checking a tiny fixed message with what was parsed (against the genuine key and
//    signatures made by the minisign tool) never raises;
//  - whatever verifies is signed by the key it names: the signature's key ID is the key's,
//    and only the genuine key and genuine signatures verify (Ed25519 cannot be forged);
//  - the genuine key, and every signature whose fields are a genuine one's (the genuine
//    seeds themselves, or the same text with other line endings), verify their message.
#include <iterator>

#include "app/PackageSignature.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Made with `minisign -G -W -p k.pub -s k.key` (corpus/minisign/key.pub).
const QByteArray kGenuineKey =
    "untrusted comment: minisign public key C54F758F1B4D464D\n"
    "RWRNRk0bj3VPxbGU8ccWA+Rnd/9h9JarG/7B2o3D1kDirHuYVcFtDzK0\n";

// The messages the genuine signatures cover.
const QByteArray kMessage = "quarnell fuzz message\n";
const QByteArray kEmptyMessage;

struct Genuine {
  const char* Text;  // the .minisig file, as in the corpus
  const QByteArray& Message;
};

const Genuine kGenuine[] = {
    // message.minisig: `minisign -S -W -s k.key -m <kMessage> -t "fuzz seed, prehashed"`
    {"untrusted comment: signature from minisign secret key\n"
     "RURNRk0bj3VPxbft0PfDu/wIRCnuA+nRIIMJK5B6/GwRA12VhP1XO5g25SUtIyum0Ld3bgZPVBMD5jI4AQeQJmp7yoC1Jx9gXAE=\n"
     "trusted comment: fuzz seed, prehashed\n"
     "SPmirdR0aIyvSgPuqwl3Y2TJo1D2/IZQldF8mSKHZ53HSEssz/xkAgzI+UlOHRL9H/fab17DfAzq7yA+2Q9dDw==\n",
     kMessage},
    // message-legacy.minisig: the same with -l and -t "fuzz seed, legacy"
    {"untrusted comment: signature from minisign secret key\n"
     "RWRNRk0bj3VPxcRPJOTPaDEpWUSni1B2L6YpuxdZgtlShJ9TujRQGulh5fl3z6eX/6wSHhkWCYu9iIfxZ1J/HV5AgVB+/8gIfQQ=\n"
     "trusted comment: fuzz seed, legacy\n"
     "ceugOSQVmaik7GNMSbSrwvveHu8KSl52Obkt6Z9uCbwkSHJeFhhorU5yY6gVipcyG+k4SYYfLwnzaM/eDsSRAQ==\n",
     kMessage},
    // empty.minisig: an empty file, prehashed
    {"untrusted comment: signature from minisign secret key\n"
     "RURNRk0bj3VPxbwlFpXcxEAd8jwo+haZxfy6V4G2oU/nzMvApP6fKWA72ZEQJ4ElL7IYMZ4rFb2OHrreJLkfSgleIQakevBniQM=\n"
     "trusted comment: timestamp:1796998757\tfile:empty.txt\thashed\n"
     "pYBBxExw+Q55Tr7JeyMxPqimKq8sqL74AY4D2AafzjUb34plN0HltTVAUo1XnP66ulqbh7jn0JfXtBmwmPRJDw==\n",
     kEmptyMessage},
    // empty-legacy.minisig: an empty file, legacy
    {"untrusted comment: signature from minisign secret key\n"
     "RWRNRk0bj3VPxV8h9ZVInmSpm2fALynKeDYnnbVS9AgGzZU3wpYvPR6TcnXDCaTnKjl1Yj7eaBmGA8zKeNiTa98RvYXxVnNq4wc=\n"
     "trusted comment: timestamp:1796998757\tfile:empty.txt\n"
     "2S7INV98iuLGRpGXaTSSCYopybRL/VZVvSrRPHL1ME9JvDwX9Ual8Mqi7cRQV0qHVT8WkzNh1t0RkoM73l9CDg==\n",
     kEmptyMessage},
};

PackagePublicKey parsedKey(const QByteArray& text) {
  QString reason;
  const auto key = ParsePackagePublicKey(text, reason);
  FUZZ_CHECK(key, QStringLiteral("a genuine key does not parse: %1").arg(reason));
  return *key;
}

PackageSignature parsedSignature(const QByteArray& text) {
  QString reason;
  const auto signature = ParsePackageSignature(text, reason);
  FUZZ_CHECK(signature, QStringLiteral("a genuine signature does not parse: %1").arg(reason));
  return *signature;
}

bool sameFields(const PackageSignature& a, const PackageSignature& b) {
  return a.Prehashed == b.Prehashed && a.KeyId == b.KeyId && a.Signature == b.Signature &&
         a.TrustedComment == b.TrustedComment && a.GlobalSignature == b.GlobalSignature;
}

bool sameKey(const PackagePublicKey& a, const PackagePublicKey& b) { return a.KeyId == b.KeyId && a.Key == b.Key; }

// The message files, written once per input: the check reads a file, as the download does.
struct Messages {
  QString Path;
  QString EmptyPath;
  const QString& PathOf(const QByteArray& message) const { return message.isEmpty() ? EmptyPath : Path; }
};

void checkKey(const QByteArray& input, const Messages& messages) {
  QString reason;
  const auto key = ParsePackagePublicKey(input, reason);
  if (!key) {
    FUZZ_CHECK(!reason.isEmpty(), QStringLiteral("a key refused without a reason"));
    return;
  }
  FUZZ_CHECK(key->KeyId.size() == 8 && key->Key.size() == 32, QStringLiteral("a key of the wrong size"));
  const bool genuine = sameKey(*key, parsedKey(kGenuineKey));
  for (const Genuine& seed : kGenuine) {
    const PackageSignature signature = parsedSignature(seed.Text);
    const QString mismatch = PackageSignatureMismatch(messages.PathOf(seed.Message), signature, *key);
    if (genuine)
      FUZZ_CHECK(mismatch.isEmpty(), QStringLiteral("the genuine key refuses a genuine signature: %1").arg(mismatch));
    else
      FUZZ_CHECK(!mismatch.isEmpty(), QStringLiteral("a key that is not the genuine one verifies a genuine signature"));
    if (key->KeyId != signature.KeyId)
      FUZZ_CHECK(mismatch.contains(QStringLiteral("another key")),
                 QStringLiteral("another key ID not named: %1").arg(mismatch));
  }
}

void checkSignature(const QByteArray& input, const Messages& messages) {
  QString reason;
  const auto signature = ParsePackageSignature(input, reason);
  if (!signature) {
    FUZZ_CHECK(!reason.isEmpty(), QStringLiteral("a signature refused without a reason"));
    return;
  }
  FUZZ_CHECK(
      signature->KeyId.size() == 8 && signature->Signature.size() == 64 && signature->GlobalSignature.size() == 64,
      QStringLiteral("a signature of the wrong size"));
  FUZZ_CHECK(!signature->TrustedComment.contains('\n'), QStringLiteral("a trusted comment over two lines"));

  const PackagePublicKey key = parsedKey(kGenuineKey);
  for (const QByteArray* message : {&kMessage, &kEmptyMessage}) {
    const QString mismatch = PackageSignatureMismatch(messages.PathOf(*message), *signature, key);
    const Genuine* match = nullptr;
    for (const Genuine& seed : kGenuine)
      if (&seed.Message == message && sameFields(*signature, parsedSignature(seed.Text))) match = &seed;
    if (match)
      FUZZ_CHECK(mismatch.isEmpty(), QStringLiteral("a genuine signature does not verify: %1").arg(mismatch));
    else
      FUZZ_CHECK(!mismatch.isEmpty(), QStringLiteral("a signature that is not a genuine one verifies"));
    if (mismatch.isEmpty())
      FUZZ_CHECK(signature->KeyId == key.KeyId, QStringLiteral("a signature verifies under another key ID"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzScratch scratch;
  if (!scratch.IsValid()) return 0;
  const Messages messages{scratch.Write(QStringLiteral("message"), kMessage),
                          scratch.Write(QStringLiteral("empty"), kEmptyMessage)};
  const QByteArray input = FuzzBytes(data, size);
  checkKey(input, messages);
  checkSignature(input, messages);
  return 0;
}
