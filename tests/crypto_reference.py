#!/usr/bin/env python3
"""Random cases for test_crypto's differential test, with the results of
Python's hashlib and python3-cryptography.

usage: crypto_reference.py SEED
One case per line, hex fields ("-" when empty):
  md5|sha256|sha384|sha512 DATA DIGEST
  rc4 KEY DATA OUT
  cbc KEY IV DATA OUT        (AES-CBC of DATA padded as PKCS #7 says)
Exit status 77 when python3-cryptography is missing.
"""
import hashlib
import random
import sys
import warnings

try:
    from cryptography.hazmat.primitives import padding
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
except ImportError:
    sys.exit(77)


def h(b):
    return b.hex() if b else "-"


def lengths(rng, count, most):
    """Lengths around block boundaries, then random ones, then a few long."""
    edge = [0, 1, 15, 16, 17, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129]
    return edge + [rng.randrange(most) for _ in range(count)] + [rng.randrange(most, 20 * most) for _ in range(3)]


def main():
    rng = random.Random(int(sys.argv[1]))
    data = lambda n: rng.randbytes(n)
    for alg in ("md5", "sha256", "sha384", "sha512"):
        for n in lengths(rng, 40, 600):
            m = data(n)
            print(alg, h(m), hashlib.new(alg, m).hexdigest())
    # The key sizes python3-cryptography's RC4 takes (40 to 256 bits).
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for n in lengths(rng, 30, 600):
            key = data(rng.choice([5, 7, 8, 10, 16, 20, 24, 32]))
            m = data(n)
            enc = Cipher(algorithms.ARC4(key), mode=None).encryptor()
            print("rc4", h(key), h(m), h(enc.update(m)))
    for n in lengths(rng, 40, 600):
        key, iv, m = data(rng.choice([16, 24, 32])), data(16), data(n)
        padder = padding.PKCS7(128).padder()
        padded = padder.update(m) + padder.finalize()
        enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
        print("cbc", h(key), h(iv), h(m), h(enc.update(padded) + enc.finalize()))


if __name__ == "__main__":
    main()
