#!/usr/bin/env python3
"""Seals and opens metadata texts with tools independent of the library:
python's zlib and base64 modules and the openssl command-line cipher.

  openssl_zlib.py open KEYHEX SEALED_FILE PLAIN_FILE
  openssl_zlib.py seal KEYHEX IVHEX LEVEL PLAIN_FILE SEALED_FILE
  openssl_zlib.py batch JOBS_FILE     (one "open ..." or "seal ..." per line)

KEYHEX has 32, 48 or 64 hexadecimal digits (AES-128, -192, -256). A sealed
text is base64(IV) ":" base64(AES-CBC-PKCS#7(zlib stream of the plaintext)).
"""
import base64
import subprocess
import sys
import zlib


def cipher_name(key_hex):
    bits = {32: 128, 48: 192, 64: 256}[len(key_hex)]
    return "-aes-%d-cbc" % bits


def run_openssl(direction, key_hex, iv, data):
    result = subprocess.run(
        ["openssl", "enc", direction, cipher_name(key_hex), "-K", key_hex, "-iv", iv.hex(), "-nosalt"],
        input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        sys.stderr.write(result.stderr.decode(errors="replace"))
        sys.exit(3)
    return result.stdout


def open_sealed(key_hex, sealed_path, plain_path):
    with open(sealed_path, "rb") as f:
        iv_part, ciphertext_part = f.read().decode("ascii").strip().split(":", 1)
    iv = base64.b64decode(iv_part, validate=True)
    ciphertext = base64.b64decode(ciphertext_part, validate=True)
    stream = run_openssl("-d", key_hex, iv, ciphertext)
    with open(plain_path, "wb") as f:
        f.write(zlib.decompress(stream))


def seal(key_hex, iv_hex, level, plain_path, sealed_path):
    iv = bytes.fromhex(iv_hex)
    with open(plain_path, "rb") as f:
        stream = zlib.compress(f.read(), level)
    ciphertext = run_openssl("-e", key_hex, iv, stream)
    text = base64.b64encode(iv) + b":" + base64.b64encode(ciphertext)
    with open(sealed_path, "wb") as f:
        f.write(text)


def run_job(args):
    if len(args) == 4 and args[0] == "open":
        open_sealed(args[1], args[2], args[3])
    elif len(args) == 6 and args[0] == "seal":
        seal(args[1], args[2], int(args[3]), args[4], args[5])
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)


def main(argv):
    if len(argv) == 3 and argv[1] == "batch":
        # Paths in a jobs file must not contain blanks.
        with open(argv[2], encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    run_job(line.split())
    else:
        run_job(argv[1:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
