// Sealing the output of an encrypted input with the input's own
// protection: an object's strings and stream data encrypted as the
// standard security handler does it for the object's new number and
// generation 0 (revisions 2-4) or with the file key (5-6), AES data with a
// reproducible IV. The emitter calls these for every object it writes
// plainly and for its object streams; the /Encrypt dictionary, the
// cross-reference stream and the trailer never come here.
//
// Results: true on success; false when the object cannot be sealed (its
// stream's /Length is not the direct length of its data, or it names a
// crypt filter the handler lacks), and then the output must not be written.
#ifndef SEAL_H
#define SEAL_H

#include <cstdint>
#include <vector>

#include "pdf_parse.h"
#include "pdf_parse/security.h"

// Rewrites the value of object num, buf[at, buf->len), sealed in place: a
// stream's dictionary written up to "stream", then its data, /Length
// counting the sealed data. scratch (zeroed at first, kept by the caller
// for the next object) holds the sealed value on the way. A buffer that
// cannot grow fails.
bool seal_object(const pdfp_encryption *e, int64_t num, bool is_stream, pdfp_buf *buf, uint64_t at,
                 pdfp_buf *scratch);
// The data of a stream object num (an object stream) sealed in place.
void seal_stream_data(const pdfp_encryption *e, int64_t num, std::vector<unsigned char> *data);

#endif
