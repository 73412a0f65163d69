// RC4: the key schedule, then the generator. The state is copied into
// locals for the loop so that the compiler keeps the indexes in registers.
#include "rc4.h"

void rc4_init(rc4_state *st, const unsigned char *key, size_t key_len) {
    for (int k = 0; k < 256; ++k) st->s[k] = static_cast<unsigned char>(k);
    unsigned char j = 0;
    for (size_t k = 0; k < 256; ++k) {
        const unsigned char t = st->s[k];
        j = static_cast<unsigned char>(j + t + key[k % key_len]);
        st->s[k] = st->s[j];
        st->s[j] = t;
    }
    st->i = st->j = 0;
}

void rc4_crypt(rc4_state *st, const unsigned char *in, unsigned char *out, size_t n) {
    unsigned char *s = st->s;
    unsigned char i = st->i, j = st->j;
    for (size_t k = 0; k < n; ++k) {
        i = static_cast<unsigned char>(i + 1);
        const unsigned char a = s[i];
        j = static_cast<unsigned char>(j + a);
        const unsigned char b = s[j];
        s[i] = b;
        s[j] = a;
        out[k] = in[k] ^ s[static_cast<unsigned char>(a + b)];
    }
    st->i = i;
    st->j = j;
}
