#include "host/web/tls_pair.h"

#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSysInfo>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

namespace bw::host::web {
namespace {

QByteArray pemOf(const std::function<int(BIO*)>& write) {
    BIO* bio = BIO_new(BIO_s_mem());
    QByteArray out;
    if (bio && write(bio) == 1) {
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        out = QByteArray(data, int(n));
    }
    BIO_free(bio);
    return out;
}

// A self-signed certificate and its key, PEM; empty when the library fails. Qt makes no keys:
// this is OpenSSL's libcrypto, which Qt's own TLS uses already.
QPair<QByteArray, QByteArray> makePair() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    QPair<QByteArray, QByteArray> out;
    if (key && cert) {
        unsigned char serial[16];
        QFile random(QStringLiteral("/dev/urandom"));
        if (random.open(QIODevice::ReadOnly))
            random.read(reinterpret_cast<char*>(serial), sizeof serial);
        serial[0] &= 0x7f;
        BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
        BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
        BN_free(bn);
        X509_set_version(cert, 2);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        const QByteArray host = QSysInfo::machineHostName().toUtf8().left(60);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(
                                       host.isEmpty() ? "brackwater-web" : host.constData()),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        if (X509_sign(cert, key, EVP_sha256()) > 0) {
            out.first = pemOf([cert](BIO* b) { return PEM_write_bio_X509(b, cert); });
            out.second = pemOf([key](BIO* b) {
                return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
            });
        }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return out;
}

// Writes a new file readable by its owner alone; an existing one is never replaced.
bool writeNew(const QString& path, const QByteArray& data) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok =
        ::write(fd, data.constData(), size_t(data.size())) == data.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.size() < 1 << 20 ? f.readAll() : QByteArray();
}

} // namespace

TlsPair tlsPair(const QString& certFile, const QString& keyFile, const QString& stateDir,
                QString& problem) {
    TlsPair out;
    QString certPath = certFile, keyPath = keyFile;
    if (certPath.isEmpty() != keyPath.isEmpty()) {
        problem = QStringLiteral("[web] cert and [web] key go together");
        return out;
    }
    if (certPath.isEmpty()) {
        QDir().mkpath(stateDir);
        certPath = QDir(stateDir).filePath(QStringLiteral("web-cert.pem"));
        keyPath = QDir(stateDir).filePath(QStringLiteral("web-key.pem"));
        if (!QFile::exists(certPath) && !QFile::exists(keyPath)) {
            const auto pair = makePair();
            if (pair.first.isEmpty() || !writeNew(keyPath, pair.second) ||
                !writeNew(certPath, pair.first)) {
                problem = QStringLiteral("cannot make a certificate in %1").arg(stateDir);
                return out;
            }
            out.made = true;
        }
    }
    const QSslCertificate cert(readAll(certPath), QSsl::Pem);
    QSslKey key(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(readAll(keyPath), QSsl::Rsa, QSsl::Pem);
    if (cert.isNull() || key.isNull()) {
        problem =
            QStringLiteral("cannot read the certificate %1 and its key %2").arg(certPath, keyPath);
        return out;
    }
    out.configuration = QSslConfiguration::defaultConfiguration();
    out.configuration.setLocalCertificate(cert);
    out.configuration.setPrivateKey(key);
    out.configuration.setProtocol(QSsl::TlsV1_2OrLater);
    out.configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    out.fingerprint =
        QString::fromLatin1(cert.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
    return out;
}

} // namespace bw::host::web
