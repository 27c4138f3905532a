#pragma once
#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// The identity of one installation: an ECDSA P-256 key and a self-signed certificate for it
// (CN "Zantiro"), kept together as PEM in one file of the program folder, readable by the
// owner only. Peers tell each other apart by the certificate's public key; the certificate's
// other fields carry no meaning.
class Identity {
public:
    // The file in the program folder: "identity.pem" (the private key, PKCS#8, then the
    // certificate).
    static QString filePath(const QString& programFolder);
    // A file larger than this is not an identity file and counts as damaged.
    static constexpr qint64 MaxFileSize = qint64(64) << 10;

    // Loads the file, or makes a new identity and writes it (atomically, mode 0600) when
    // there is none. A file that exists but cannot be read, or does not hold a matching P-256
    // key and certificate, is renamed aside ("identity.pem.damaged-YYYYMMDD-HHMMSS", with
    // "-2", "-3" ... when that name is taken; never overwritten) and a new identity is made;
    // `notice` then gets one line for the user saying so and where the old file went. When
    // it cannot be moved aside it stays as it is and the new identity lives for this run
    // only. A new identity that cannot be written is still used, with a notice. isValid() is
    // false only when no key could be made at all. `notice` is cleared when all went well.
    static Identity loadOrCreate(const QString& programFolder, QString* notice = nullptr);

    bool isValid() const { return !key.isNull() && !cert.isNull() && !spki.isEmpty(); }
    QSslKey privateKey() const { return key; }           // ECDSA P-256
    QSslCertificate certificate() const { return cert; } // self-signed, CN "Zantiro"
    QByteArray publicKey() const { return spki; }        // DER SubjectPublicKeyInfo
    QString keyCode() const { return Identity::keyCode(publicKey()); }

    // "12345 67890 12345 67890": SHA-256 over the key; group i is bytes 4i..4i+3 of the hash
    // read as a big-endian number, modulo 100000, as five digits. Empty for an empty key.
    static QString keyCode(const QByteArray& publicKey);
    // The same shape from SHA-256 over both keys in a fixed order: the bytewise smaller DER
    // first, each preceded by its length as 4 bytes big-endian, so both sides of a connection
    // get the same code. Empty when either key is empty.
    static QString connectionCode(const QByteArray& keyA, const QByteArray& keyB);
    // The DER public key (SubjectPublicKeyInfo) of a certificate a peer presented; empty for
    // a null certificate or one whose key cannot be read.
    static QByteArray publicKeyOf(const QSslCertificate& certificate);

    // A new identity in memory only (an invalid one when the key could not be made).
    static Identity generate();
    // The identity held by PEM text as the file holds it; invalid unless the text has one
    // P-256 private key and a certificate for exactly that key.
    static Identity fromPem(const QByteArray& pem);
    // The file's contents for this identity: the text it was read from or made as (the key
    // as PKCS#8).
    QByteArray toPem() const;

private:
    QSslKey key;
    QSslCertificate cert;
    QByteArray spki;
    QByteArray pem;
};
