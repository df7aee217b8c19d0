#include "CImg.h"

#include "ImvraRecords.h"
#include "TvkLogger.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace Tvk::Imvra {

namespace {

void ZeroRecord(tagIMAGEINFO& info) {
    std::memset(&info, 0, sizeof info);
}

// Copies rows stored rows of srcPitch bytes from src to successive rows of
// dstPitch bytes at dst (srcPitch <= dstPitch; the rest of a row is left).
void CopyRows(uint8_t* dst, int64_t dstPitch, const uint8_t* src, int64_t srcPitch, int64_t rows) {
    for (int64_t r = 0; r < rows; ++r)
        std::memcpy(dst + r * dstPitch, src + r * srcPitch, static_cast<size_t>(srcPitch));
}

// Buffers let go of by images, kept for the next ones of about their size.
class BufferStore {
public:
    // Smaller buffers come from the heap's own free lists without faults.
    static constexpr size_t kSmallest = 64 * 1024;
    // Enough for the pages and bands of a duplex colour A4 sheet at 300 dpi
    // (two pages, their deskewed copies and the bands in flight).
    static constexpr size_t kMostBytes = size_t{320} << 20;
    // A page's bands are let go of together when the page is joined (two
    // sides of about 28 bands each at 300 dpi), beside the pages.
    static constexpr size_t kMostBuffers = 128;

    BufferStore() { m_kept.reserve(kMostBuffers + 1); }

    // A kept buffer of at least n bytes and at most twice that, the
    // smallest there is; nullptr when none fits.
    uint8_t* take(size_t n, size_t& capacity) {
        if (n < kSmallest) return nullptr;
        std::lock_guard lock(m_mutex);
        size_t best = m_kept.size();
        for (size_t k = 0; k < m_kept.size(); ++k) {
            const size_t c = m_kept[k].capacity;
            if (c >= n && c / 2 <= n && (best == m_kept.size() || c < m_kept[best].capacity))
                best = k;
        }
        if (best == m_kept.size()) return nullptr;
        uint8_t* p = m_kept[best].data;
        capacity = m_kept[best].capacity;
        m_bytes -= capacity;
        m_kept.erase(m_kept.begin() + static_cast<ptrdiff_t>(best));
        return p;
    }

    // Keeps the buffer, freeing others to stay within bounds: over the
    // count the smallest go first, since a page buffer dropped for a band
    // costs the next page thousands of faults where the band costs a few;
    // over the bytes the oldest go first.
    void give(uint8_t* p, size_t capacity) {
        if (p == nullptr) return;
        if (capacity < kSmallest || capacity > kMostBytes) {
            delete[] p;
            return;
        }
        // Room for one more than the bound was made up front, so keeping
        // never allocates.
        Kept drop[kMostBuffers + 1];
        size_t dropped = 0;
        {
            std::lock_guard lock(m_mutex);
            m_kept.push_back(Kept{p, capacity});
            m_bytes += capacity;
            if (m_kept.size() > kMostBuffers) {
                const auto smallest = std::min_element(
                    m_kept.begin(), m_kept.end(),
                    [](const Kept& a, const Kept& b) { return a.capacity < b.capacity; });
                drop[dropped++] = *smallest;
                m_bytes -= smallest->capacity;
                m_kept.erase(smallest);
            }
            size_t oldest = 0;
            while (m_bytes > kMostBytes) {
                m_bytes -= m_kept[oldest].capacity;
                drop[dropped++] = m_kept[oldest++];
            }
            m_kept.erase(m_kept.begin(), m_kept.begin() + static_cast<ptrdiff_t>(oldest));
        }
        for (size_t k = 0; k < dropped; ++k) delete[] drop[k].data;
    }

    void hold() {
        std::lock_guard lock(m_mutex);
        ++m_holders;
    }

    // The last holder gone: every kept buffer goes back to the system.
    void release() {
        {
            std::lock_guard lock(m_mutex);
            if (m_holders > 0) --m_holders;
        }
        trim();
    }

    // Without a holder, every kept buffer goes back to the system.
    void trim() {
        std::vector<Kept> drop;
        {
            std::lock_guard lock(m_mutex);
            if (m_holders > 0) return;
            drop = m_kept;
            m_kept.clear();
            m_bytes = 0;
        }
        for (const Kept& k : drop) delete[] k.data;
    }

    size_t bytes() {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }

private:
    struct Kept {
        uint8_t* data;
        size_t capacity;
    };
    std::mutex m_mutex;
    std::vector<Kept> m_kept;
    size_t m_bytes = 0;
    int m_holders = 0;
};

// Never destroyed: images in static storage may give buffers back after
// other statics are gone.
BufferStore& Store() {
    static BufferStore* const store = new BufferStore;
    return *store;
}

} // namespace

void CImg::holdBufferStore() {
    Store().hold();
}

void CImg::releaseBufferStore() {
    Store().release();
}

void CImg::trimBufferStore() {
    Store().trim();
}

size_t CImg::bufferStoreBytes() {
    return Store().bytes();
}

CImg::CImg() {
    ZeroRecord(m_info);
}

CImg::CImg(const CImg& other) : CImg() {
    *this = other;
}

CImg::~CImg() {
    freeBuffer();
}

CImg::operator tagIMAGEINFO*() {
    return &m_info;
}

void CImg::freeBuffer() {
    // A buffer whose size was never known here is freed, not kept.
    if (m_capacity == 0)
        delete[] m_info.lpImage;
    else
        Store().give(m_info.lpImage, m_capacity);
    m_info.lpImage = nullptr;
    m_capacity = 0;
}

void CImg::deleteImg() {
    freeBuffer();
    ZeroRecord(m_info);
}

bool CImg::allocate(bool zero) {
    freeBuffer();
    const size_t n = m_info.tImageSize;
    if (n == 0) return false;
    size_t capacity = n;
    uint8_t* p = Store().take(n, capacity);
    if (p == nullptr) {
        p = new (std::nothrow) uint8_t[n];
        if (p == nullptr) return false;
        capacity = n;
    }
    if (zero) std::memset(p, 0, n);
    m_info.lpImage = p;
    m_capacity = capacity;
    return true;
}

CImg& CImg::operator=(const CImg& other) {
    if (&other == this) return *this;
    deleteImg();
    if (other.m_info.lpImage == nullptr) return *this;
    m_info = other.m_info;
    m_info.lpImage = nullptr;
    // Every byte is copied over.
    if (!allocate(false)) {
        deleteImg();
        return *this;
    }
    std::memcpy(m_info.lpImage, other.m_info.lpImage, m_info.tImageSize);
    return *this;
}

void CImg::attachImg(CImg& other) {
    if (&other == this) return;
    deleteImg();
    m_info = other.m_info;
    m_capacity = other.m_capacity;
    ZeroRecord(other.m_info);
    other.m_capacity = 0;
}

namespace {
// Products of record fields (each within 32 bits) can pass 64 bits: they are
// formed in 128 bits and held at the 64-bit limits, which no record's size
// field ever equals.
int64_t SaturatedProduct(__int128 p) {
    if (p > INT64_MAX) return INT64_MAX;
    if (p < INT64_MIN) return INT64_MIN;
    return static_cast<int64_t>(p);
}
} // namespace

int64_t CImg::calcMinSync(int64_t width, int64_t bps, int64_t spp, uint32_t order) {
    int64_t bits;
    if (order == 0)
        bits = SaturatedProduct(__int128{width} * bps * spp);
    else if (order == 1)
        bits = SaturatedProduct(__int128{width} * bps);
    else
        return -1;
    // Rounded up: also for the negative counts of nonsense records.
    return bits >= 0 ? bits / 8 + (bits % 8 != 0) : -(bits / -8);
}

uint64_t CImg::calcSize(int64_t sync, int64_t height, int64_t spp, uint32_t order) {
    int64_t n;
    if (order == 0)
        n = SaturatedProduct(__int128{sync} * height);
    else if (order == 1)
        n = SaturatedProduct(__int128{sync} * height * spp);
    else
        return 0;
    return n > 0 ? static_cast<uint64_t>(n) : 0;
}

bool CImg::checkInfo(const tagIMAGEINFO& info) {
    if (info.lWidth < 1 || info.lHeight < 1) return false;
    if (info.lSpp != 1 && info.lSpp != 3) {
        const int32_t b = info.lBps;
        if (b != 1 && b != 4 && b != 8 && b != 16) return false;
    }
    if (info.lSync < 0) return false;
    if (info.lSync < calcMinSync(info.lWidth, info.lBps, info.lSpp, info.ulRGBOrder)) return false;
    // 64-bit product: a size beyond the 32-bit field never equals it.
    return info.tImageSize == calcSize(info.lSync, info.lHeight, info.lSpp, info.ulRGBOrder);
}

int64_t CImg::storedRows(const tagIMAGEINFO& info) {
    if (info.lSync <= 0 || info.lHeight <= 0) return 0;
    const int64_t rows =
        info.ulRGBOrder == 1 ? int64_t{info.lHeight} * info.lSpp : int64_t{info.lHeight};
    return std::clamp<int64_t>(rows, 0, info.tImageSize / info.lSync);
}

bool CImg::createImg(const tagIMAGEINFO& info) {
    if (!checkInfo(info)) return false;
    deleteImg();
    m_info = info;
    m_info.size = kImageInfoSize;
    m_info.lpImage = nullptr;
    // No memory: an empty image, told apart from a refusal by isNull.
    if (!allocate()) deleteImg();
    return true;
}

bool CImg::createImgForWrite(const tagIMAGEINFO& info) {
    if (!checkInfo(info)) return false;
    deleteImg();
    m_info = info;
    m_info.size = kImageInfoSize;
    m_info.lpImage = nullptr;
    if (!allocate(false)) deleteImg();
    return true;
}

void CImg::clearRowTails(int64_t written) {
    const int64_t pitch = m_info.lSync;
    written = std::max<int64_t>(written, 0);
    if (isNull() || written >= pitch) return;
    const int64_t rows = storedRows(m_info);
    for (int64_t r = 0; r < rows; ++r)
        std::memset(m_info.lpImage + r * pitch + written, 0, static_cast<size_t>(pitch - written));
}

bool CImg::createImg(const CImg& model) {
    tagIMAGEINFO info = model.m_info;
    return createImg(info);
}

bool CImg::createImg(int32_t xpos, int32_t ypos, int32_t width, int32_t height, int32_t sync,
                     int32_t bps, int32_t spp, uint32_t order, int32_t xres, int32_t yres) {
    const uint64_t size = calcSize(sync, height, spp, order);
    if (size > UINT32_MAX) return false;
    tagIMAGEINFO info{};
    info.size = kImageInfoSize;
    info.lXpos = xpos;
    info.lYpos = ypos;
    info.lWidth = width;
    info.lHeight = height;
    info.lSync = sync;
    info.tImageSize = static_cast<uint32_t>(size);
    info.lBps = bps;
    info.lSpp = spp;
    info.ulRGBOrder = order;
    info.lXResolution = xres;
    info.lYResolution = yres;
    return createImg(info);
}

bool CImg::createImg(int32_t width, int32_t height, int32_t sync, int32_t bps, int32_t spp,
                     uint32_t order, int32_t xres, int32_t yres) {
    return createImg(0, 0, width, height, sync, bps, spp, order, xres, yres);
}

bool CImg::createImg(int32_t width, int32_t height, int32_t sync, int32_t bps, int32_t spp,
                     uint32_t order) {
    return createImg(0, 0, width, height, sync, bps, spp, order, 0, 0);
}

bool CImg::createImg(int32_t width, int32_t height, int32_t bps, int32_t spp, uint32_t order,
                     int32_t xres, int32_t yres) {
    const int64_t sync = calcMinSync(width, bps, spp, order);
    if (sync > INT32_MAX) return false;
    return createImg(0, 0, width, height, static_cast<int32_t>(sync), bps, spp, order, xres, yres);
}

bool CImg::createImg(int32_t width, int32_t height, int32_t bps, int32_t spp, uint32_t order) {
    return createImg(width, height, bps, spp, order, 0, 0);
}

bool CImg::createJpg(int32_t width, int32_t bps, int32_t spp, int32_t xres, int32_t yres,
                     uint32_t size) {
    deleteImg();
    m_info.size = kImageInfoSize;
    m_info.lWidth = width;
    m_info.lHeight = -1;
    m_info.lSync = -1;
    m_info.tImageSize = size;
    m_info.lBps = bps;
    m_info.lSpp = spp;
    m_info.ulRGBOrder = 3;
    m_info.lXResolution = xres;
    m_info.lYResolution = yres;
    if (allocate()) return true;
    deleteImg();
    return false;
}

bool CImg::convertToJpg(int) {
    return false;
}

bool CImg::appendImg(CImg& other) {
    const tagIMAGEINFO& o = other.m_info;
    if (other.isNull()) return true;
    if (isNull()) {
        *this = other;
        return true;
    }
    const tagIMAGEINFO& t = m_info;
    if (t.lBps != o.lBps || t.lSpp != o.lSpp || t.ulRGBOrder != o.ulRGBOrder ||
        t.lXResolution != o.lXResolution || t.lYResolution != o.lYResolution || o.lXpos != 0 ||
        o.lYpos != 0)
        return false;
    const int64_t height = int64_t{t.lHeight} + o.lHeight;
    if (height > INT32_MAX) return false;
    CImg joined;
    if (!joined.createImg(std::max(t.lWidth, o.lWidth), static_cast<int32_t>(height),
                          std::max(t.lSync, o.lSync), t.lBps, t.lSpp, t.ulRGBOrder, t.lXResolution,
                          t.lYResolution))
        return false;
    // No memory: this image keeps its lines.
    if (joined.isNull()) return false;
    const int64_t pitch = joined.m_info.lSync;
    const int64_t ownRows = std::min(storedRows(t), storedRows(joined.m_info));
    CopyRows(joined.m_info.lpImage, pitch, t.lpImage, t.lSync, ownRows);
    const int64_t otherRows = std::min(storedRows(o), storedRows(joined.m_info) - ownRows);
    CopyRows(joined.m_info.lpImage + ownRows * pitch, pitch, o.lpImage, o.lSync, otherRows);
    attachImg(joined);
    return true;
}

// ---------------------------------------------------------------------------

CImgList::CImgList() {
    ZeroRecord(m_info);
    m_info.size = kImageInfoSize;
}

CImgList::~CImgList() {
    PopAll();
}

void CImgList::PopAll() {
    for (CImg* band : m_listImg) delete band;
    m_listImg.clear();
    ZeroRecord(m_info);
    m_info.size = kImageInfoSize;
}

int CImgList::push(CImg& band) {
    const tagIMAGEINFO& b = band.info();
    if (band.isNull()) return RTN_OK;
    if (!m_listImg.empty()) {
        const tagIMAGEINFO& s = m_info;
        if (b.lBps != s.lBps || b.lSpp != s.lSpp || b.lWidth != s.lWidth || b.lSync != s.lSync ||
            b.lXResolution != s.lXResolution || b.lYResolution != s.lYResolution ||
            (b.lSpp == 3 && b.ulRGBOrder != s.ulRGBOrder))
            return RTN_PAR;
    }
    CImg* held = new (std::nothrow) CImg;
    if (held == nullptr) return RTN_MEM;
    try {
        m_listImg.reserve(m_listImg.size() + 1);
    } catch (const std::bad_alloc&) {
        delete held;
        return RTN_MEM;
    }
    if (m_listImg.empty()) {
        m_info.lXpos = b.lXpos;
        m_info.lYpos = b.lYpos;
        m_info.lWidth = b.lWidth;
        m_info.lSync = b.lSync;
        m_info.lBps = b.lBps;
        m_info.lSpp = b.lSpp;
        m_info.ulRGBOrder = b.ulRGBOrder;
        m_info.lXResolution = b.lXResolution;
        m_info.lYResolution = b.lYResolution;
    }
    m_info.lHeight = Clamp32(int64_t{m_info.lHeight} + b.lHeight);
    m_info.tImageSize += b.tImageSize;
    held->attachImg(band);
    m_listImg.push_back(held);
    return RTN_OK;
}

void CImgList::SpliceAndPopAll(CImg& out) {
    if (m_listImg.empty()) {
        TvkLogger::writeLog("CImgList::SpliceAndPopAll unexpected case. m_listImg.empty()");
        return;
    }
    if (m_listImg.size() == 1) {
        out.attachImg(*m_listImg.front());
        delete m_listImg.front();
        m_listImg.clear();
        return;
    }
    // Sizes summed over all bands, in 64 bits: a page too large for the
    // record is treated like one that does not fit in memory.
    int64_t height = 0;
    uint64_t bytes = 0;
    for (const CImg* band : m_listImg) {
        height += band->info().lHeight;
        bytes += band->info().tImageSize;
    }
    const tagIMAGEINFO s = m_info;
    out.deleteImg();
    if (s.ulRGBOrder < 3) {
        // Every byte is copied or cleared below.
        tagIMAGEINFO rec = s;
        rec.lHeight = static_cast<int32_t>(std::min<int64_t>(height, INT32_MAX));
        const uint64_t size = CImg::calcSize(s.lSync, rec.lHeight, s.lSpp, s.ulRGBOrder);
        rec.tImageSize = static_cast<uint32_t>(size);
        if (height <= INT32_MAX && size <= UINT32_MAX) out.createImgForWrite(rec);
    } else if (bytes <= UINT32_MAX) {
        out.createJpg(s.lWidth, s.lBps, s.lSpp, s.lXResolution, s.lYResolution,
                      static_cast<uint32_t>(bytes));
    }
    if (out.isNull()) {
        PopAll();
        throw std::bad_alloc();
    }
    // Each band's stored rows (a stage may have shortened a band in place),
    // never more than the joined buffer has left.
    uint8_t* dst = out.info().lpImage;
    size_t room = out.info().tImageSize;
    for (const CImg* band : m_listImg) {
        const tagIMAGEINFO& b = band->info();
        size_t n = b.tImageSize;
        if (b.ulRGBOrder < 3) n = static_cast<size_t>(CImg::storedRows(b) * b.lSync);
        n = std::min(n, room);
        std::memcpy(dst, b.lpImage, n);
        dst += n;
        room -= n;
    }
    std::memset(dst, 0, room);
    for (CImg* band : m_listImg) delete band;
    m_listImg.clear();
}

// ---------------------------------------------------------------------------

CTvkRaster::~CTvkRaster() {
    Clear();
}

bool CTvkRaster::SetSize(size_t bytes) {
    if (bytes == 0) return false;
    Clear();
    m_pData = new (std::nothrow) uint8_t[bytes];
    if (m_pData == nullptr) return false;
    m_nSize = bytes;
    return true;
}

void CTvkRaster::Clear() {
    delete[] m_pData;
    m_pData = nullptr;
    m_nSize = 0;
}

} // namespace Tvk::Imvra
