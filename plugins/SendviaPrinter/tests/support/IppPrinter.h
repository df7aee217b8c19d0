// A local IPP printer for the tests: ippeveprinter on a free port in a
// temporary folder, keeping every job's document in its spool folder, with
// a private system bus for its service-announcement client. Started and
// stopped by the test; every wait has a time limit.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace printtest {

class IppPrinter {
public:
    // Starts the printer in a fresh folder under `folder`; running() tells
    // whether it answers.
    explicit IppPrinter(const std::string& folder);
    ~IppPrinter();
    IppPrinter(const IppPrinter&) = delete;
    IppPrinter& operator=(const IppPrinter&) = delete;

    bool running() const { return printerPid_ > 0; }
    int port() const { return port_; }
    // ipp://127.0.0.1:<port>/ipp/print
    std::string uri() const;
    // The documents received so far, in job order.
    std::vector<std::string> documents() const;
    // Waits up to the limit for a count of documents.
    std::vector<std::string> waitForDocuments(std::size_t count, std::chrono::milliseconds limit) const;
    // Stops the printer (it refuses connections from then on).
    void stop();

private:
    std::string folder_;
    std::string spool_;
    std::string busFolder_;
    pid_t busPid_ = -1;
    pid_t printerPid_ = -1;
    int port_ = 0;
};

// A free TCP port on the loopback address.
int freePort();

} // namespace printtest
