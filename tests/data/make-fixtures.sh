#!/bin/bash
# Makes the certificate and PKCS #12 fixtures of the tests with openssl.
# Run once; its outputs are committed so that every run tests the same bytes.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
mk() {   # mk NAME SUBJECT
  openssl req -x509 -newkey rsa:1024 -nodes -utf8 -subj "$2" -days 7300 \
    -keyout "$tmp/$1.key" -out "$tmp/$1.pem" -set_serial "0x$(printf %s "$1" | md5sum | cut -c1-8)" 2>/dev/null
  openssl x509 -in "$tmp/$1.pem" -outform DER -out "$1.der"
}
mk zhangsan    "/CN=张三/O=Quorvel银行/C=CN"
mk signing     "/CN=Quorvel Test Signing/O=Quorvel Bank/C=CN"
# 50 double-byte characters: 100 bytes of GBK, one more than a tree item keeps.
mk longname    "/CN=网上银行证书用户网上银行证书用户网上银行证书用户网上银行证书用户网上银行证书用户网上银行证书用户网上/O=Quorvel/C=CN"
# PKCS #12: with key (password 123456, also a legacy 3DES one), without a key, not PKCS #12.
openssl pkcs12 -export -in "$tmp/zhangsan.pem" -inkey "$tmp/zhangsan.key" -passout pass:123456 -out zhangsan.p12
openssl pkcs12 -export -legacy -in "$tmp/signing.pem" -inkey "$tmp/signing.key" -passout pass:123456 -out signing-legacy.pfx
openssl pkcs12 -export -nokeys -in "$tmp/signing.pem" -passout pass:123456 -out nokey.p12
printf 'not a PKCS #12 file\n' > notpfx.p12
