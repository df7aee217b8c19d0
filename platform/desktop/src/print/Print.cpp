#include "desktop/Print.h"

#include <cups/cups.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace kdd::print {
namespace {

// CUPS measures media in hundredths of a millimetre.
double pointsFromHundredthsMm(int value) { return double(value) * 72.0 / 2540.0; }

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

std::string lastCupsError(const char* what) {
    const char* reason = cupsLastErrorString();
    return std::string(what) + ": " + (reason && *reason ? reason : "unknown error");
}

// A wait that found nothing within the time-out gives up at once.
int giveUp(http_t*, void*) { return 0; }

struct HttpClose {
    void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpClose>;

struct DestFree {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
using Dest = std::unique_ptr<cups_dest_t, DestFree>;

struct InfoFree {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using Info = std::unique_ptr<cups_dinfo_t, InfoFree>;

int milliseconds(std::chrono::milliseconds timeout) {
    return int(std::clamp<long long>(timeout.count(), 1, 24LL * 3600 * 1000));
}

void applyTimeout(http_t* http, std::chrono::milliseconds timeout) {
    httpSetTimeout(http, double(milliseconds(timeout)) / 1000.0, giveUp, nullptr);
}

Http connectScheduler(std::chrono::milliseconds timeout, std::string* error) {
    Http http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, milliseconds(timeout),
                           nullptr));
    if (!http) {
        setError(error, std::string("cannot reach the print scheduler at ") + cupsServer());
        return nullptr;
    }
    applyTimeout(http.get(), timeout);
    return http;
}

std::string optionOf(const cups_dest_t& dest, const char* name) {
    const char* value = cupsGetOption(name, dest.num_options, dest.options);
    return value ? value : "";
}

Destination describe(const cups_dest_t& dest) {
    Destination d;
    d.name = dest.name ? dest.name : "";
    if (dest.instance && *dest.instance) d.name += std::string("/") + dest.instance;
    d.uri = optionOf(dest, "device-uri");
    if (d.uri.empty()) d.uri = optionOf(dest, "printer-uri-supported");
    d.isDefault = dest.is_default != 0;
    return d;
}

// The destination with its connection: a direct address is reached
// directly (the device itself), a queue through the scheduler.
struct Opened {
    Dest dest;
    Http http;
};

std::optional<Opened> open(const std::string& destination, std::chrono::milliseconds timeout,
                           std::string* error) {
    Opened opened;
    const bool direct = isDirectURI(destination);
    if (direct) {
        opened.dest.reset(cupsGetDestWithURI(nullptr, destination.c_str()));
    } else {
        if (destination.empty()) {
            setError(error, "no printer is named");
            return std::nullopt;
        }
        Http scheduler = connectScheduler(timeout, error);
        if (!scheduler) return std::nullopt;
        const std::size_t slash = destination.find('/');
        const std::string name = destination.substr(0, slash);
        const std::string instance = slash == std::string::npos ? std::string() : destination.substr(slash + 1);
        opened.dest.reset(
            cupsGetNamedDest(scheduler.get(), name.c_str(), instance.empty() ? nullptr : instance.c_str()));
    }
    if (!opened.dest) {
        setError(error, lastCupsError(("no printer " + destination).c_str()));
        return std::nullopt;
    }
    std::array<char, 1024> resource{};
    int cancel = 0;
    opened.http.reset(cupsConnectDest(opened.dest.get(), direct ? CUPS_DEST_FLAGS_DEVICE : CUPS_DEST_FLAGS_NONE,
                                      milliseconds(timeout), &cancel, resource.data(), resource.size(), nullptr,
                                      nullptr));
    if (!opened.http) {
        setError(error, lastCupsError(("cannot connect to " + destination).c_str()));
        return std::nullopt;
    }
    applyTimeout(opened.http.get(), timeout);
    return opened;
}

Media mediaFromSize(const cups_size_t& size) {
    Media m;
    m.name = size.media;
    m.width = pointsFromHundredthsMm(size.width);
    m.length = pointsFromHundredthsMm(size.length);
    m.left = pointsFromHundredthsMm(size.left);
    m.bottom = pointsFromHundredthsMm(size.bottom);
    m.right = pointsFromHundredthsMm(size.right);
    m.top = pointsFromHundredthsMm(size.top);
    return m;
}

struct FdClose {
    int fd;
    ~FdClose() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

bool isDirectURI(std::string_view destination) {
    return destination.starts_with("ipp://") || destination.starts_with("ipps://");
}

std::vector<Destination> destinations(std::chrono::milliseconds timeout, std::string* error) {
    std::vector<Destination> found;
    Http http = connectScheduler(timeout, error);
    if (!http) return found;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http.get(), &dests);
    for (int i = 0; i < count; ++i) found.push_back(describe(dests[i]));
    cupsFreeDests(count, dests);
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        setError(error, lastCupsError("cannot list the printers"));
    return found;
}

std::optional<Destination> defaultDestination(std::chrono::milliseconds timeout, std::string* error) {
    // The user's choice in the environment, as the CUPS client reads it; a
    // direct address there needs no scheduler.
    for (const char* variable : {"LPDEST", "PRINTER"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        if (isDirectURI(value)) return Destination{value, value, true};
        break;
    }
    Http http = connectScheduler(timeout, error);
    if (!http) return std::nullopt;
    Dest dest(cupsGetNamedDest(http.get(), nullptr, nullptr));
    if (!dest) {
        setError(error, lastCupsError("no default printer"));
        return std::nullopt;
    }
    Destination d = describe(*dest);
    d.isDefault = true;
    return d;
}

std::optional<MediaList> destinationMedia(const std::string& destination, std::chrono::milliseconds timeout,
                                          std::string* error) {
    std::optional<Opened> opened = open(destination, timeout, error);
    if (!opened) return std::nullopt;
    Info info(cupsCopyDestInfo(opened->http.get(), opened->dest.get()));
    if (!info) {
        setError(error, lastCupsError(("cannot ask " + destination).c_str()));
        return std::nullopt;
    }
    MediaList list;
    const int count = cupsGetDestMediaCount(opened->http.get(), opened->dest.get(), info.get(),
                                            CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count; ++i) {
        cups_size_t size{};
        if (cupsGetDestMediaByIndex(opened->http.get(), opened->dest.get(), info.get(), i, CUPS_MEDIA_FLAGS_DEFAULT,
                                    &size) &&
            size.width > 0 && size.length > 0)
            list.media.push_back(mediaFromSize(size));
    }
    cups_size_t size{};
    if (cupsGetDestMediaDefault(opened->http.get(), opened->dest.get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT,
                                &size) &&
        size.width > 0 && size.length > 0)
        list.defaultMedia = mediaFromSize(size);
    else if (!list.media.empty())
        list.defaultMedia = list.media.front();
    return list;
}

bool printPdfFile(const std::string& destination, const std::string& pdfPath, const JobOptions& options,
                  std::chrono::milliseconds timeout, std::string* error) {
    FdClose file{::open(pdfPath.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        setError(error, "cannot read " + pdfPath);
        return false;
    }
    std::optional<Opened> opened = open(destination, timeout, error);
    if (!opened) return false;
    http_t* http = opened->http.get();
    cups_dest_t* dest = opened->dest.get();
    Info info(cupsCopyDestInfo(http, dest));
    if (!info) {
        setError(error, lastCupsError(("cannot ask " + destination).c_str()));
        return false;
    }

    cups_option_t* jobOptions = nullptr;
    int optionCount = 0;
    const std::string copies = std::to_string(std::clamp(options.copies, 1, 9999));
    optionCount = cupsAddOption(CUPS_COPIES, copies.c_str(), optionCount, &jobOptions);
    if (!options.media.empty()) optionCount = cupsAddOption(CUPS_MEDIA, options.media.c_str(), optionCount, &jobOptions);
    int jobId = 0;
    const ipp_status_t created =
        cupsCreateDestJob(http, dest, info.get(), &jobId, options.title.c_str(), optionCount, jobOptions);
    if (created > IPP_STATUS_OK_EVENTS_COMPLETE || jobId <= 0) {
        cupsFreeOptions(optionCount, jobOptions);
        setError(error, lastCupsError("the printer refused the job"));
        return false;
    }
    // The options go with the job; the document carries none of its own.
    const bool started = cupsStartDestDocument(http, dest, info.get(), jobId, options.title.c_str(),
                                               CUPS_FORMAT_PDF, 0, nullptr, 1) == HTTP_STATUS_CONTINUE;
    cupsFreeOptions(optionCount, jobOptions);
    bool sent = started;
    std::array<char, 65536> buffer{};
    while (sent) {
        const ssize_t n = ::read(file.fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            sent = false;
            break;
        }
        if (n == 0) break;
        sent = cupsWriteRequestData(http, buffer.data(), std::size_t(n)) == HTTP_STATUS_CONTINUE;
    }
    const ipp_status_t finished = started ? cupsFinishDestDocument(http, dest, info.get()) : IPP_STATUS_ERROR_INTERNAL;
    if (!sent || finished > IPP_STATUS_OK_EVENTS_COMPLETE) {
        setError(error, lastCupsError("the printer did not take the document"));
        cupsCancelDestJob(http, dest, jobId);
        return false;
    }
    return true;
}

} // namespace kdd::print
