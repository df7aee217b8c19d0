// Reading our PDF files back in tests: qpdf's check, each page's box and
// image stream, the first pixel of a JPEG stream.
#pragma once


#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace pdftest {

inline bool HaveQpdf() {
    const std::string qpdf = KD_QPDF;
    return !qpdf.empty() && qpdf.find("NOTFOUND") == std::string::npos;
}

inline bool QpdfCheck(const std::string& file) {
    const std::string cmd = std::string(KD_QPDF) + " --check '" + file + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The image shown on a page of a file read back with qpdf.
struct PageImage {
    double width = 0, height = 0; // MediaBox in points
    std::string filter;
    bool blackIs1 = false;
    int pixelsWide = 0, bits = 0;
    std::string raw;     // the stream as stored
    std::string decoded; // Flate undone (empty for DCT and CCITT)
};

inline std::string AsString(const std::shared_ptr<Buffer>& b) {
    return std::string(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
}

inline std::vector<PageImage> ReadPages(const std::string& file) {
    std::vector<PageImage> out;
    QPDF pdf;
    pdf.processFile(file.c_str());
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        PageImage p;
        QPDFObjectHandle box = page.getMediaBox();
        p.width = box.getArrayItem(2).getNumericValue() - box.getArrayItem(0).getNumericValue();
        p.height = box.getArrayItem(3).getNumericValue() - box.getArrayItem(1).getNumericValue();
        auto images = page.getImages();
        if (images.size() == 1) {
            QPDFObjectHandle image = images.begin()->second;
            QPDFObjectHandle dict = image.getDict();
            QPDFObjectHandle filter = dict.getKey("/Filter");
            if (filter.isArray() && filter.getArrayNItems() == 1) filter = filter.getArrayItem(0);
            p.filter = filter.isName() ? filter.getName() : "";
            QPDFObjectHandle parms = dict.getKey("/DecodeParms");
            if (parms.isArray() && parms.getArrayNItems() == 1) parms = parms.getArrayItem(0);
            if (parms.isDictionary() && parms.getKey("/BlackIs1").isBool())
                p.blackIs1 = parms.getKey("/BlackIs1").getBoolValue();
            p.pixelsWide = dict.getKey("/Width").getIntValueAsInt();
            p.bits = dict.getKey("/BitsPerComponent").getIntValueAsInt();
            p.raw = AsString(image.getRawStreamData());
            if (p.filter == "/FlateDecode")
                p.decoded = AsString(image.getStreamData(qpdf_dl_generalized));
        }
        out.push_back(std::move(p));
    }
    return out;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// The first pixel of a JPEG stream, as decoded to RGB (or gray).
inline bool FirstJpegPixel(const std::string& data, uint8_t out[3]) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr i) {
        std::longjmp(reinterpret_cast<JpegError*>(i->err)->jump, 1);
    };
    static thread_local std::vector<uint8_t> row;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    row.resize(size_t{info.output_width} * info.output_components);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    for (int c = 0; c < 3; ++c) out[c] = row[info.output_components == 3 ? c : 0];
    jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace pdftest
