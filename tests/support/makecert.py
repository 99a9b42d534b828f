#!/usr/bin/python3
"""Throwaway TLS certificates for the test servers.

Writes server.key and server.crt (PEM) into --dir:
  expired     self-signed for "localhost", valid only in the past
  other-name  for "otherhost" only, signed by a throwaway authority
              (whose certificate goes to ca.crt)
"""

import argparse
import datetime
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID


def new_key():
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def name(common_name):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)])


def certificate(subject, subject_key, issuer, issuer_key, not_before, not_after,
                dns_names=(), authority=False):
    builder = (x509.CertificateBuilder()
               .subject_name(subject)
               .issuer_name(issuer)
               .public_key(subject_key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(not_before)
               .not_valid_after(not_after)
               .add_extension(x509.BasicConstraints(ca=authority, path_length=None),
                              critical=True))
    if dns_names:
        builder = builder.add_extension(
            x509.SubjectAlternativeName([x509.DNSName(n) for n in dns_names]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def write_pem(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--kind", required=True, choices=["expired", "other-name"])
    args = p.parse_args()
    now = datetime.datetime.utcnow()
    day = datetime.timedelta(days=1)
    key = new_key()
    if args.kind == "expired":
        subject = name("localhost")
        cert = certificate(subject, key, subject, key, now - 30 * day, now - 2 * day,
                           dns_names=["localhost"])
    else:
        ca_key = new_key()
        ca_name = name("Throwaway Test Authority")
        ca = certificate(ca_name, ca_key, ca_name, ca_key, now - day, now + 2 * day,
                         authority=True)
        write_pem(os.path.join(args.dir, "ca.crt"), ca.public_bytes(serialization.Encoding.PEM))
        cert = certificate(name("otherhost"), key, ca_name, ca_key, now - day, now + 2 * day,
                           dns_names=["otherhost"])
    write_pem(os.path.join(args.dir, "server.key"),
              key.private_bytes(serialization.Encoding.PEM,
                                serialization.PrivateFormat.TraditionalOpenSSL,
                                serialization.NoEncryption()))
    write_pem(os.path.join(args.dir, "server.crt"), cert.public_bytes(serialization.Encoding.PEM))


if __name__ == "__main__":
    main()
