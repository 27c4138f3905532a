#include "identity/Identity.h"

#include "config/SavedFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <memory>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME, X509_NAME_free>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

constexpr char FileName[] = "identity.pem";
constexpr char CommonName[] = "Zantiro";
constexpr long ValidDays = 30L * 366;

// Everything written to a memory BIO so far.
QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? QByteArray(data, n) : QByteArray();
}

// The DER SubjectPublicKeyInfo of a key (public or private).
QByteArray spkiOf(EVP_PKEY* pkey)
{
    unsigned char* der = nullptr;
    const int n = i2d_PUBKEY(pkey, &der);
    if (n <= 0)
        return {};
    QByteArray out(reinterpret_cast<const char*>(der), n);
    OPENSSL_free(der);
    return out;
}

bool isP256(EVP_PKEY* pkey)
{
    char group[64] = {};
    size_t len = 0;
    return EVP_PKEY_is_a(pkey, "EC") && EVP_PKEY_get_group_name(pkey, group, sizeof group, &len) == 1
           && QByteArray(group, static_cast<qsizetype>(len)) == "prime256v1";
}

// A certificate for pkey, signed by pkey: random positive serial, valid from a day ago (so
// a peer whose clock is a little behind accepts it) for about thirty years.
X509Ptr selfSigned(EVP_PKEY* pkey)
{
    X509Ptr x509(X509_new());
    unsigned char serial[16];
    if (!x509 || RAND_bytes(serial, sizeof serial) != 1)
        return {};
    serial[0] &= 0x7f;
    const BigNum bn(BN_bin2bn(serial, sizeof serial, nullptr));
    ASN1_INTEGER* asnSerial = X509_get_serialNumber(x509.get());
    const NamePtr name(X509_NAME_new());
    const bool ok = bn && BN_to_ASN1_INTEGER(bn.get(), asnSerial) && X509_set_version(x509.get(), 2) == 1
                    && X509_gmtime_adj(X509_getm_notBefore(x509.get()), -24L * 3600)
                    && X509_time_adj_ex(X509_getm_notAfter(x509.get()), ValidDays, 0, nullptr) && name
                    && X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                                  reinterpret_cast<const unsigned char*>(CommonName), -1, -1, 0)
                           == 1
                    && X509_set_subject_name(x509.get(), name.get()) == 1
                    && X509_set_issuer_name(x509.get(), name.get()) == 1 && X509_set_pubkey(x509.get(), pkey) == 1
                    && X509_sign(x509.get(), pkey, EVP_sha256()) > 0;
    return ok ? std::move(x509) : X509Ptr();
}

// Five digits from four bytes of a hash, for each of the four groups.
QString digitGroups(const QByteArray& hash)
{
    QStringList groups;
    for (int g = 0; g < 4; ++g) {
        quint32 v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<quint8>(hash[g * 4 + i]);
        groups << QStringLiteral("%1").arg(v % 100000U, 5, 10, QLatin1Char('0'));
    }
    return groups.join(QLatin1Char(' '));
}

QByteArray lengthPrefixed(const QByteArray& bytes)
{
    const auto n = static_cast<quint32>(bytes.size());
    QByteArray out;
    out.append(static_cast<char>(n >> 24)).append(static_cast<char>(n >> 16));
    out.append(static_cast<char>(n >> 8)).append(static_cast<char>(n));
    return out + bytes;
}

// Reads the file at path as an identity; on failure says why in `why`.
Identity readFile(const QString& path, QString& why)
{
    // Only a regular file is opened: a named pipe would hold the program in open().
    const QFileInfo info(path);
    if (!info.isFile()) {
        why = info.isDir() ? QStringLiteral("it is a folder") : QStringLiteral("it is not a regular file");
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return {};
    }
    const QByteArray pem = file.read(Identity::MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        why = file.errorString();
        return {};
    }
    if (pem.size() > Identity::MaxFileSize) {
        why = QStringLiteral("it is larger than %1 bytes").arg(Identity::MaxFileSize);
        return {};
    }
    Identity id = Identity::fromPem(pem);
    if (!id.isValid())
        why = QStringLiteral("it does not hold a matching key and certificate");
    return id;
}

// Writes the identity to path, readable by the owner only; an empty text on success.
QString writeFile(const QString& path, const QByteArray& pem)
{
    return saveWholeFile(path, pem, true);
}

// Renames what is at path to a free "<name>.damaged-<time>[-n]" beside it; the new path, or
// empty when nothing could be renamed.
QString moveAside(const QString& path)
{
    const QString base =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 100; ++n) {
        QString target = n == 1 ? base : base + QStringLiteral("-%1").arg(n);
        const QFileInfo info(target);
        if (info.exists() || info.isSymLink())
            continue;
        // QDir::rename never replaces an existing entry, also for a folder in the way.
        if (QDir().rename(path, target))
            return target;
    }
    return {};
}

} // namespace

QString Identity::filePath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QString::fromLatin1(FileName));
}

Identity Identity::generate()
{
    const PKey pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!pkey)
        return {};
    const X509Ptr x509 = selfSigned(pkey.get());
    const Bio keyBio(BIO_new(BIO_s_mem()));
    const Bio certBio(BIO_new(BIO_s_mem()));
    if (!x509 || !keyBio || !certBio
        || PEM_write_bio_PrivateKey(keyBio.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1
        || PEM_write_bio_X509(certBio.get(), x509.get()) != 1)
        return {};
    return fromPem(bioBytes(keyBio.get()) + bioBytes(certBio.get()));
}

Identity Identity::fromPem(const QByteArray& pem)
{
    const QList<QSslCertificate> certs = QSslCertificate::fromData(pem, QSsl::Pem);
    const QSslKey key(pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (certs.size() != 1 || certs[0].isNull() || key.isNull() || key.type() != QSsl::PrivateKey)
        return {};
    // The key as libcrypto sees it, to compare its public half with the certificate's.
    const QByteArray keyPem = key.toPem();
    const Bio bio(BIO_new_mem_buf(keyPem.constData(), static_cast<int>(keyPem.size())));
    const PKey pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    const QByteArray spki = publicKeyOf(certs[0]);
    if (!pkey || !isP256(pkey.get()) || spki.isEmpty() || spkiOf(pkey.get()) != spki)
        return {};
    Identity id;
    id.key = key;
    id.cert = certs[0];
    id.spki = spki;
    id.pem = pem;
    return id;
}

QByteArray Identity::toPem() const
{
    return isValid() ? pem : QByteArray();
}

Identity Identity::loadOrCreate(const QString& programFolder, QString* notice)
{
    QString message;
    const QString path = filePath(programFolder);
    const QFileInfo info(path);
    bool keepOld = false; // the old file stays in place: never write over it
    if (info.exists() || info.isSymLink()) {
        QString why;
        Identity id = readFile(path, why);
        if (id.isValid()) {
            if (notice)
                notice->clear();
            return id;
        }
        const QString aside = moveAside(path);
        if (aside.isEmpty()) {
            keepOld = true;
            message = QStringLiteral("*** Your identity file %1 could not be read (%2) and could not be moved "
                                     "aside - a new identity is used for this run only; friends who knew the old "
                                     "one will be told it changed")
                          .arg(QDir::toNativeSeparators(path), why);
        } else {
            message = QStringLiteral("*** Your identity file could not be read (%1) - it was moved to %2 and a new "
                                     "identity was made; friends who knew the old one will be told it changed")
                          .arg(why, QDir::toNativeSeparators(aside));
        }
    }
    Identity id = generate();
    if (!id.isValid()) {
        message = QStringLiteral("*** No identity could be made - private connections are not possible");
    } else if (!keepOld) {
        const QString why = writeFile(path, id.toPem());
        if (!why.isEmpty())
            message =
                (message.isEmpty() ? QStringLiteral("*** Your new identity") : message + QStringLiteral(", but it"))
                + QStringLiteral(" could not be saved to %1 (%2) - it is used for this run only")
                      .arg(QDir::toNativeSeparators(path), why);
    }
    if (notice)
        *notice = message;
    return id;
}

QByteArray Identity::publicKeyOf(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return {};
    const QByteArray der = certificate.toDer();
    const auto* p = reinterpret_cast<const unsigned char*>(der.constData());
    const X509Ptr x509(d2i_X509(nullptr, &p, der.size()));
    if (!x509)
        return {};
    unsigned char* out = nullptr;
    const int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509.get()), &out);
    if (n <= 0)
        return {};
    QByteArray spki(reinterpret_cast<const char*>(out), n);
    OPENSSL_free(out);
    return spki;
}

QString Identity::keyCode(const QByteArray& publicKey)
{
    if (publicKey.isEmpty())
        return {};
    return digitGroups(QCryptographicHash::hash(publicKey, QCryptographicHash::Sha256));
}

QString Identity::connectionCode(const QByteArray& keyA, const QByteArray& keyB)
{
    if (keyA.isEmpty() || keyB.isEmpty())
        return {};
    const bool aFirst = keyA <= keyB;
    const QByteArray joined = lengthPrefixed(aFirst ? keyA : keyB) + lengthPrefixed(aFirst ? keyB : keyA);
    return digitGroups(QCryptographicHash::hash(joined, QCryptographicHash::Sha256));
}
