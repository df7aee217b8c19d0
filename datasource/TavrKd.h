// The KD-720 scanner object. This header holds its transport session and
// the command protocol: every command in its container, with its data
// phase and status, and the decoding of failures into error classes.
#pragma once

#include "DocUSBScanner.h"
#include "KdImaging.h"
#include "ScanParam.h"
#include "ScannerCommands.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

// Raw scanner bytes: a READ block mapped on its own (see TakeReadBlock) or
// a short READ's bytes from the heap; the deleter knows which.
struct SRawBytesFree {
    bool mapped = false;
    void operator()(std::uint8_t* p) const noexcept;
};
using KdRawBytes = std::unique_ptr<std::uint8_t[], SRawBytesFree>;

// A block of raw scanner data in a raw page's chunk list.
struct SImageChunk {
    unsigned long size = 0;
    unsigned long consumed = 0;            // taken by the image thread
    KdRawBytes data;                       // data blocks only
    bool wholeBlock = false;               // data is a READ block (else size bytes only)
    std::uint32_t kind = 0;                // 0 data, 1 cancel mark, 2 end mark
    std::uint32_t status = 0;              // end mark: the error class (0 a whole page)
};
inline constexpr std::uint32_t kChunkData = 0;
inline constexpr std::uint32_t kChunkCancel = 1;
inline constexpr std::uint32_t kChunkEnd = 2;

// One sheet being read (both sides together).
struct SRawPage {
    std::mutex mutex;                      // guards chunks
    std::list<SImageChunk> chunks;
    std::uint32_t pageValue = 0;           // data type 1
    std::uint32_t pageInfo[5] = {};        // length read (type 2), then the four words of type 3
    bool hasPageInfo = false;
    double startTime = 0;
};

// One output strip of a finished side image.
struct SImageStrip {
    std::unique_ptr<Tvk::Imvra::CImg> image;
    unsigned long readBytes = 0;
};

// One finished side image, or an entry that only reports an error.
struct SImageData {
    std::mutex mutex;                      // guards strips
    unsigned long bytesPerLine = 0;
    std::uint32_t pixelType = 0;
    unsigned long width = 0, height = 0;
    std::uint32_t resolution = 0;
    std::uint8_t blank = 0;
    std::list<SImageStrip> strips;
    bool back = false;
    double startTime = 0;
    std::uint32_t error = 0;
};

// The two threads of a scan.
enum class KdScanThread { Reader, Image };

// Test and host seams of a scan: the clock, the flow-control marks and the
// hook that runs between the waits of the caller's thread.
struct SScanTuning {
    std::function<double()> clock;         // seconds; empty: the steady clock
    std::uint64_t highMark = 0x25800000;   // reading pauses above this many bytes
    std::uint64_t lowMark = 0x12C00000;    // and resumes below this many
    std::function<void()> waitHook;        // the data source runs its run loop here
    double noDataTimeout = 90;             // seconds a READ may bring nothing
    // Asked before the allocations a scan thread makes for its page `page`
    // (1-based, counted by each thread); true fails them as if memory had
    // run out. Empty: nothing fails.
    std::function<bool(KdScanThread thread, unsigned page)> allocationFails;
};

// A value of the final-filter dictionary: a number or a 256-byte table.
using KdFilterValue = std::variant<long, std::vector<std::uint8_t>>;
using KdFilterDictionary = std::map<std::string, KdFilterValue>;

// CopyThumbnailImage's failure: no finished image of the size asked for.
inline constexpr unsigned char kThumbnailChanged = 0xFF;

// The answer of "ScannerInfo".
struct SScannerInfo {
    char product[32];
    char vendor[32];
    char revision[32];
    std::uint8_t ultrasonic;
};
static_assert(sizeof(SScannerInfo) == 97);

class CTavrKd : public CDocUSBScanner {
public:
    explicit CTavrKd(const void* deviceRecord);
    ~CTavrKd() override;

    // The USB session, then bulk-in pipe 1 and bulk-out pipe 2 when the
    // device has an interface; clears the error word, flags, record and
    // queues.
    KdError OpenSession() override;
    KdError CloseSession() override;

    // The scan.
    KdError StartScan(tagScanParam* param) override;   // null: only checks the scanner
    KdError AdjustLight();
    KdError ScanPage(tagScanParam* param) override;
    KdError ReadLines(unsigned char* buffer, unsigned long stride, unsigned long* lines) override;
    KdError ScanComplete() override;
    KdError FinishScan() override;
    KdError AbortScan() override;
    KdError AbortState() override;
    KdError GetPageError();
    KdError Refresh();
    void SetEzKeyAbort(unsigned long mask);
    void ProtectImageBuffer(unsigned char on);

    // Named status queries; the result is kept as the scanner error word.
    KdError GetStatus(const char* name, void* value) override;

    // Counters and blocks.
    KdError ClearRollerCounter(unsigned char pad);
    KdError SetScanCounter(const unsigned long values[3]);
    KdError SetSerialNumber(const char* serial);
    KdError SetMaxScanLength(unsigned long length);
    KdError SetVerticalScalingControlValue(double factor);

    // Calibration data.
    KdError SendShadingData(const unsigned char* data, unsigned long size, unsigned long channel,
                            bool second, bool back);
    // The shading blob: eight doubles of set-up, then the four calibration
    // images, each a 52-byte image header and its pixels.
    KdError GetShadingData(std::vector<std::uint8_t>* blob);
    KdError SetShadingData(const std::uint8_t* blob, std::size_t size);

    KdError SetOcrPath(const char* folder);
    // Final filters on the first finished image.
    KdError ApplyImageFilter(const KdFilterDictionary& filters);
    // Final filters on a caller's buffer (front settings). On success *image
    // is a new malloc'ed buffer the caller frees; the caller's own buffer is
    // left to it as well. While the image thread holds the engine for a
    // page it answers kDeviceBusy at once instead of waiting for the page.
    virtual KdError ApplyImageFilter(unsigned char** image, unsigned long* width,
                                     unsigned long* height, unsigned long* bytesPerLine,
                                     unsigned long bitsPerSample, unsigned long samplesPerPixel,
                                     unsigned long resolution, const KdFilterDictionary& filters);
    unsigned long GetThumbnailImageInfo(unsigned long* width, unsigned long* height,
                                        unsigned long* bytesPerLine, unsigned long* bitsPerSample,
                                        unsigned long* samplesPerPixel);
    // Copies the first finished image row by row into `buffer` of
    // `bufferSize` bytes, the size GetThumbnailImageInfo answered; after each
    // row the cancel function (when given) may stop the copy with its own
    // non-zero answer. When no image of exactly that size is queued any more
    // (it was taken, filtered or replaced meanwhile) nothing is written past
    // the buffer and the answer is kThumbnailChanged.
    unsigned char CopyThumbnailImage(unsigned char* buffer, unsigned long bufferSize,
                                     unsigned char (*cancel)(void*), void* context);

    // Seams: the library (the static engine unless a test sets its own) and
    // the clock, marks and wait hook.
    void SetImaging(IKdImaging* imaging) { m_imaging = imaging ? imaging : &LibraryImaging(); }
    void SetScanTuning(SScanTuning tuning) { m_tuning = std::move(tuning); }
    bool ReaderRunning() const { return m_readerRunning; }
    bool ImageThreadRunning() const { return m_imageRunning; }

    // Reads the 4-byte status; a non-zero status word is a check condition.
    // The status word goes to *status when given.
    KdError GetResponse(unsigned long* status) override;

    static void SetupCommandContainer(std::uint8_t opcode, SCommand* command);
    static void SetupDataContainer(unsigned long size, SCommand* command);
    // Turns REQUEST SENSE's key, ASC and ASCQ into an error class.
    static KdError DecodeSense(unsigned long sense);

    KdError ExecTestUnitReady();
    // eom and info may be null.
    KdError ExecRequestSense(unsigned long* sense, unsigned char* eom, unsigned long* info);
    // vendor, product and revision take at most 8, 16 and 4 characters
    // and a terminating NUL; any pointer may be null.
    KdError ExecInquiry(char* vendor, char* product, char* revision, unsigned char* deviceType);
    KdError ExecInquiryEx(SDeviceCapabilty* capability);
    KdError ExecReserveUnit();
    KdError ExecReleaseUnit();
    KdError ExecScan(unsigned long count, const unsigned char* windowIds);
    KdError ExecSetWindow(const SScanWindow* window);
    KdError ExecGetWindow(SScanWindow* window);
    // *size: in, the bytes asked for; out, the bytes that arrived.
    KdError ExecRead(unsigned long* size, unsigned char* buffer, unsigned long dataType);
    KdError ExecSend(unsigned long size, const unsigned char* data, unsigned long dataType);
    // 0 no motion, 1 pick a sheet, 2 discharge the paper path.
    KdError ExecObjectPosition(unsigned long action);
    KdError ExecGetMemory(unsigned long address, unsigned long size, unsigned char* buffer);
    KdError ExecGetScannerStatus(unsigned char* paper, unsigned char* other);
    KdError ExecErrorClear();
    KdError ExecDefineScanMode(const SScanModeParam* mode);
    KdError ExecStopBatch();
    KdError ExecSetAdjustData(const SAdjustInfo* front, const SAdjustInfo* back);
    KdError ExecSetScanParameter(const SScanParameter* parameter, unsigned short value);

    // The recovery after a failed command: a stalled pipe is cleared and
    // the sense read, a check condition has its sense read, and the sense
    // decides the class (key 0: success). Other classes pass unchanged.
    KdError RecoverError(KdError error);

private:
    struct CalibrationSetup {
        unsigned long windows = 0, xres = 0, yres = 0, left = 0, width = 0, channels = 0;
        unsigned long dropOut = 0;
        double time = 0;
        bool operator==(const CalibrationSetup& o) const {
            return windows == o.windows && xres == o.xres && yres == o.yres && left == o.left &&
                   width == o.width && channels == o.channels && dropOut == o.dropOut;
        }
    };

    double Now() const;
    void Notify();
    // Waits up to 100 ms for the next event, then runs the wait hook.
    void WaitEvent(std::uint64_t& seen, bool hook);
    void StopThreads();
    // A READ block: a spare one when there is one; throws std::bad_alloc.
    KdRawBytes TakeReadBlock();
    // Keeps the emptied blocks of `used` for later READs, up to a bound.
    void KeepReadBlocks(std::list<SImageChunk>& used);
    void ClearQueues();
    KdError ReadBlock(unsigned long type, std::uint8_t block[128], int tries);
    KdError WriteBlock(unsigned long type, const std::uint8_t block[128]);
    KdError WaitForReader();
    KdError CheckScanner();
    CalibrationSetup CurrentSetup() const;
    KdError CalibrationScan(Tvk::Imvra::tagADJUSTINFO& info, std::uint8_t id0, std::uint8_t id1,
                            bool adjustData, bool levels, Tvk::Imvra::CImg& raw);
    bool BothSidesRead() const;
    bool DetectionOn() const;
    void DeleteCalibration();

    // The threads (TavrKdThreads.cpp).
    void ScanImage();
    // Reads page `number` of the scan; a failed allocation throws std::bad_alloc.
    KdError ReadPage(SRawPage& page, bool& cancelSeen, unsigned number);
    void ImageProcessing(void*);
    KdError ImageProcessing();
    // Whether the test seam fails this allocation; MayFail throws
    // std::bad_alloc then.
    bool SeamFails(KdScanThread thread, unsigned page) const;
    void MayFail(KdScanThread thread, unsigned page) const;
    // Queues the entry made ahead (the list's one node) as an error-only
    // entry; nothing is allocated.
    void QueueErrorEntry(std::list<std::shared_ptr<SImageData>>& reserve, KdError error);
    void EndReader();
    // Sleeps for `pause` unless a cancel or the session's end comes first.
    void PauseReading(std::chrono::milliseconds pause);

    KdError ExecNoData(std::uint8_t opcode);
    // Writes the command container, then an optional data container, then
    // reads an optional reply of exactly replySize bytes, then the status.
    KdError Transact(const SCommand& command, const void* data, std::size_t dataContainerSize,
                     void* reply, std::size_t replySize);
    KdError WriteAll(const void* buffer, std::size_t size);
    // Reads up to *size bytes; *size becomes the count that arrived.
    KdError ReadSome(void* buffer, unsigned long* size);
    KdError ReadExactly(void* buffer, std::size_t size);

    IKdImaging* m_imaging;
    SScanTuning m_tuning;

    tagScanParam m_param{};
    bool m_haveParam = false;
    unsigned long m_maxWidth = 0, m_maxLength = 0;   // 1/1200 inch
    bool m_ultrasonic = false;
    std::int32_t m_offsetValue = 0;
    std::int32_t m_dummyValue = 0;
    unsigned long m_windowLength = 0;                  // of the scan window
    // Calibration images: first and second reference of the front, then of the back.
    Tvk::Imvra::CImg m_calib[4];
    bool m_haveCalibration = false;
    CalibrationSetup m_calibSetup;
    std::atomic<std::uint32_t> m_cancel{0};
    unsigned long m_ezKeyMask = 0;
    bool m_refresh = false;
    bool m_protect = false;
    bool m_haveInfo = false;
    SScannerInfo m_info{};

    // Queues.
    std::mutex m_pageMutex;
    std::list<std::unique_ptr<SRawPage>> m_rawPages;
    std::mutex m_imageMutex;
    std::list<std::shared_ptr<SImageData>> m_images;
    std::mutex m_processingMutex;
    SRawPage* m_processing = nullptr;
    std::atomic<std::uint64_t> m_buffered{0};
    // READ blocks the image thread has emptied, for the reader's next READs:
    // a new block would cost fresh pages at every READ.
    std::mutex m_blockMutex;
    std::vector<KdRawBytes> m_spareBlocks;

    // Threads and their flags.
    std::thread m_reader, m_imager;
    std::atomic<std::thread::id> m_readerId{};
    std::atomic<bool> m_readerRunning{false}, m_imageRunning{false}, m_imageBusy{false};
    std::atomic<bool> m_flowHeld{false}, m_shutdown{false};
    std::atomic<std::uint32_t> m_readerError{0}, m_imageError{0};
    std::atomic<int> m_pagesRead{0};
    unsigned m_imagePages = 0;     // pages the image thread has taken
    bool m_doubleFeedSeen = false;
    bool m_batchStarted = false;   // SCAN sent in continuous feeding

    std::mutex m_eventMutex;
    std::condition_variable m_event;
    std::uint64_t m_events = 0;
};
