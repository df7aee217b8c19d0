#include "PdfJoin.h"

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace kdpdf {

namespace {

// Page files kept open together while the document is joined.
constexpr size_t kKeepOpen = 200;

// A new file beside target, created exclusively so that nothing already
// there is touched. Answers the open stream and its name.
FILE* CreateBeside(const std::string& target, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".part-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FILE* file = fdopen(fd, "wb");
            if (file == nullptr) {
                close(fd);
                unlink(name.c_str());
            }
            return file;
        }
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

// The rename itself reaches the disk with the folder's entry.
void SyncFolderOf(const std::string& target) {
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

} // namespace

bool joinPages(const std::vector<std::string>& files, const std::string& target,
               std::string* error) {
    std::string temporary;
    FILE* out = nullptr;
    try {
        QPDF joined;
        joined.emptyPDF();
        QPDFPageDocumentHelper joinedPages(joined);
        // The sources stay alive until the write, which reads their streams.
        // A long document's files are opened only while they are read, so it
        // does not run out of file descriptors; a shorter one keeps them open,
        // which is much faster.
        const bool keepOpen = files.size() <= kKeepOpen;
        std::vector<std::unique_ptr<QPDF>> sources;
        for (const std::string& file : files) {
            auto input = std::make_shared<ClosedFileInputSource>(file.c_str());
            input->stayOpen(true);
            auto source = std::make_unique<QPDF>();
            source->setSuppressWarnings(true);
            source->processInputSource(input);
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*source).getAllPages())
                joinedPages.addPage(page, false);
            if (!keepOpen) input->stayOpen(false);
            sources.push_back(std::move(source));
        }
        out = CreateBeside(target, temporary);
        if (out == nullptr) {
            if (error)
                *error = "cannot create a file beside " + target + ": " + std::strerror(errno);
            return false;
        }
        QPDFWriter writer(joined);
        writer.setOutputFile(temporary.c_str(), out, false);
        writer.setStreamDataMode(qpdf_s_preserve);
        writer.write();
        const bool flushed = std::fflush(out) == 0 && fsync(fileno(out)) == 0;
        const bool closed = std::fclose(out) == 0;
        out = nullptr;
        if (!flushed || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
            if (error) *error = "cannot write " + target + ": " + std::strerror(errno);
            unlink(temporary.c_str());
            return false;
        }
        SyncFolderOf(target);
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    }
    if (out != nullptr) std::fclose(out);
    if (!temporary.empty()) unlink(temporary.c_str());
    return false;
}

} // namespace kdpdf
