#pragma once

#include <QSslConfiguration>
#include <QString>

namespace bw::host::web {

// The web view's certificate and key: the files the settings name, else the pair kept in
// `stateDir` (web-cert.pem, web-key.pem), made at the first start as a self-signed ECDSA P-256
// certificate for ten years, the key readable by its owner alone. An empty result with the
// reason in `problem` when neither can be had.
struct TlsPair {
    QSslConfiguration configuration;
    QString fingerprint; // SHA-256 of the certificate, "AB:CD:..."
    bool made = false;   // made now
};
TlsPair tlsPair(const QString& certFile, const QString& keyFile, const QString& stateDir,
                QString& problem);

} // namespace bw::host::web
