// Package signatures in the minisign format (Ed25519): the maker signs each package with
// the minisign tool, and the download checks the package against the public key in force
// before anything opens or starts it. Both signature kinds are accepted: "ED" (the file's
// BLAKE2b-512 hash is signed) and the legacy "Ed" (the file itself is signed). The trusted
// comment is covered by the global signature and is checked too.
//
// The parsers take bytes from strangers: they bound what they read and never raise.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct PackagePublicKey {
  QByteArray KeyId;  // 8 bytes
  QByteArray Key;    // 32 bytes, Ed25519
};

struct PackageSignature {
  bool Prehashed = false;      // "ED": the signature covers the BLAKE2b-512 hash of the file
  QByteArray KeyId;            // 8 bytes: the key the maker signed with
  QByteArray Signature;        // 64 bytes
  QByteArray TrustedComment;   // the text after "trusted comment: "
  QByteArray GlobalSignature;  // 64 bytes over Signature followed by TrustedComment
};

// The key from the base64 key line of a minisign.pub, or from the whole file (its comment
// line is skipped). On failure, nothing, with the reason in `reason`.
std::optional<PackagePublicKey> ParsePackagePublicKey(const QByteArray& text, QString& reason);

// A .minisig file: "untrusted comment: ...", the base64 signature line, "trusted comment: ...",
// the base64 global signature line. On failure, nothing, with the reason in `reason`.
std::optional<PackageSignature> ParsePackageSignature(const QByteArray& bytes, QString& reason);

// Why the file at `path` does not carry `signature` by `key` (another key, a signature that
// does not match the file, a trusted comment that does not match its signature, a file that
// cannot be read); empty text when it does.
QString PackageSignatureMismatch(const QString& path, const PackageSignature& signature, const PackagePublicKey& key);

// Why the file at `path` does not have the SHA-256 `expectedHex` (64 hexadecimal digits,
// either case); empty text when it does.
QString PackageSha256Mismatch(const QString& path, const QString& expectedHex);
