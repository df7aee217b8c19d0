// Diagnosis output of the library: every settings record the data source
// hands in, as tagged text blocks in the library's debug log, and images as
// numbered raw files. Everything here is silent unless the debug log is on,
// that is unless the lower layer's global logger exists (its file "Imvra.log"
// was present in the log folder when the logger was created). Debug output
// never changes what the pipeline does.
#pragma once

#include "CImg.h"
#include "ImvraRecords.h"
#include "TvkLogger.h"

namespace Tvk::Imvra::KD730 {

class KdOrbelLogger {
public:
    // Creates the global logger on that name (only when its file exists).
    static void createLogger(const char* name);

    // One block per record: an opening line, one line per field present
    // (fields beyond the record's size word are left out), a closing line.
    // Pointed-to records follow their pointer's line, indented. Null records
    // write nothing.
    static void writeADJUSTINFO(const tagADJUSTINFO* info);
    static void writeIMAGEINFO(const tagIMAGEINFO* info);
    static void writeNORMALFILTERINFO(const tagNORMALFILTERINFO* info);
    static void writeSPECIALFILTERINFO(const tagSPECIALFILTERINFO* info);
    static void writeFILTERSIMPLEXINFO(const tagFILTERSIMPLEXINFO* info);
    static void writeFILTERDUPLEXINFO(const tagFILTERDUPLEXINFO* info);

    // The first stored line of an 8- or 16-bit image, one value a log line:
    // lWidth x lSpp values for interleaved images, lWidth values of each of
    // the first lSpp rows for planar ones. Nothing for other depths or when
    // the logger or its file is missing.
    static void dumpFirstLine(TvkLogger* logger, const tagIMAGEINFO* info);

    // Saves the image as a raw file "<prefix>NNN.tvk" with the first number
    // (000 to 999) whose file does not exist yet; the file is created
    // exclusively, so none is ever overwritten or written through a link. A
    // relative prefix names a file in the log folder. Nothing when the debug
    // log is off, the image is empty or all thousand names are taken.
    static void writeTvk(const CImg& image, const char* prefix);
};

} // namespace Tvk::Imvra::KD730
