// Printing through the CUPS client library, without any toolkit: the
// destinations the scheduler knows, one destination named by its queue
// name or reached directly by its ipp:// or ipps:// address, the media it
// offers with their printable margins, and one job holding one PDF
// document. Every connection and request gives up after the time-out, so an
// unreachable printer never holds the caller.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kdd::print {

// The time-out the callers use unless they have a reason for another.
inline constexpr std::chrono::milliseconds kDefaultTimeout{15000};

struct Destination {
    std::string name;       // the queue name ("name/instance" for an instance), or the address
    std::string uri;        // "device-uri" or "printer-uri-supported", when known
    bool isDefault = false; // the user's or the scheduler's default
};

// One medium, in points (1/72 inch), portrait: width across, length down;
// the margins are the printer's unprintable edges.
struct Media {
    std::string name; // the PWG name, such as "iso_a4_210x297mm"
    double width = 0;
    double length = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    double top = 0;
};

// What one job asks of the printer besides its document.
struct JobOptions {
    std::string title = "Scan";
    int copies = 1;    // 1 to 9999
    std::string media; // the medium's name, none when empty
};

// An address the destination is reached at directly: "ipp://" or "ipps://".
bool isDirectURI(std::string_view destination);

// The scheduler's destinations (cupsGetDests2), in its order; empty with
// the reason in *error when it cannot be reached.
std::vector<Destination> destinations(std::chrono::milliseconds timeout = kDefaultTimeout,
                                      std::string* error = nullptr);

// The default destination ($LPDEST, $PRINTER, the user's lpoptions, then
// the scheduler's); none when there is none or the scheduler is
// unreachable. A direct address in $LPDEST or $PRINTER is taken as it is.
std::optional<Destination> defaultDestination(std::chrono::milliseconds timeout = kDefaultTimeout,
                                              std::string* error = nullptr);

// The media of the destination (a queue name or a direct address) and its
// default medium (the first listed when it names none). None when the
// destination cannot be found or asked; an empty list when it lists none.
struct MediaList {
    std::vector<Media> media;
    std::optional<Media> defaultMedia;
};
std::optional<MediaList> destinationMedia(const std::string& destination,
                                          std::chrono::milliseconds timeout = kDefaultTimeout,
                                          std::string* error = nullptr);

// Sends the PDF file to the destination as one job with one document.
// True once the printer has taken the whole document.
bool printPdfFile(const std::string& destination, const std::string& pdfPath, const JobOptions& options,
                  std::chrono::milliseconds timeout = kDefaultTimeout, std::string* error = nullptr);

} // namespace kdd::print
