#pragma once

#include <QByteArray>

// Checks Ed25519 signatures of downloads (libcrypto).
class SignatureVerifier
{
public:
    // publicKey: the raw 32-byte key; signatureBase64: the 64-byte signature
    // in base64. False for any malformed input.
    static bool verify(const QByteArray &publicKey, const QByteArray &message,
                       const QByteArray &signatureBase64);
};
