// The streams of real PDF files, for the tests and benchmarks of the Flate
// coders (tests/test_inflate.cpp, tests/test_deflate.cpp, bench/): every
// "stream ... endstream" body found by a plain text search, which is good
// enough for the corpus. Header-only, so that the benchmarks need nothing
// else from the tests.
#ifndef CORPUS_STREAMS_H
#define CORPUS_STREAMS_H

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct pdf_stream {
    size_t offset;     // of the data in the file
    std::string dict;  // text from " obj" to the keyword; empty when no object header precedes
    std::string data;  // the raw bytes
};

// The .pdf files of a directory, sorted by name.
inline std::vector<std::filesystem::path> pdf_files(const std::string &dir) {
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".pdf") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline std::string file_bytes(const std::filesystem::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::vector<pdf_stream> pdf_streams(const std::string &pdf) {
    std::vector<pdf_stream> streams;
    for (size_t at = pdf.find("stream"); at != std::string::npos; at = pdf.find("stream", at + 6)) {
        if (at >= 3 && pdf.compare(at - 3, 3, "end") == 0) continue;
        size_t start = at + 6;
        if (pdf.compare(start, 2, "\r\n") == 0) start += 2;
        else if (pdf[start] == '\n' || pdf[start] == '\r') start += 1;
        size_t end = pdf.find("endstream", start);
        if (end == std::string::npos) continue;
        size_t obj = pdf.rfind(" obj", at);
        streams.push_back({start, obj == std::string::npos ? "" : pdf.substr(obj, at - obj),
                           pdf.substr(start, end - start)});
    }
    return streams;
}

// Inflates z, of unknown decoded size, with zlib; false unless zlib takes it to its end.
inline bool zlib_inflate_all(const std::string &z, std::string *out) {
    z_stream s{};
    if (inflateInit(&s) != Z_OK) return false;
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(z.data()));
    s.avail_in = uInt(z.size());
    char chunk[65536];
    int rc;
    do {
        s.next_out = reinterpret_cast<Bytef *>(chunk);
        s.avail_out = sizeof chunk;
        rc = inflate(&s, Z_NO_FLUSH);
        out->append(chunk, sizeof chunk - s.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

// Which set a stream belongs to, judged from the text of its dictionary:
// "images", "objstm" (object streams: the text of many small objects),
// "content" (no /Type, /Subtype or font lengths) or "other".
inline const char *stream_kind(const std::string &dict) {
    if (dict.find("/Image") != std::string::npos) return "images";
    if (dict.find("/ObjStm") != std::string::npos) return "objstm";
    if (dict.find("/Type") == std::string::npos && dict.find("/Subtype") == std::string::npos &&
        dict.find("/Length1") == std::string::npos && dict.find("/Length2") == std::string::npos)
        return "content";
    return "other";
}

// The decoded bytes of every Flate stream of the corpus with an object
// header, by kind (see stream_kind).
struct decoded_stream {
    std::string kind;
    std::string bytes;
};

inline std::vector<decoded_stream> corpus_decoded_streams(const std::string &dir) {
    std::vector<decoded_stream> all;
    for (const auto &file : pdf_files(dir)) {
        for (const pdf_stream &s : pdf_streams(file_bytes(file))) {
            std::string data;
            if (s.dict.empty() || !zlib_inflate_all(s.data, &data) || data.empty()) continue;
            all.push_back({stream_kind(s.dict), std::move(data)});
        }
    }
    return all;
}

#endif
