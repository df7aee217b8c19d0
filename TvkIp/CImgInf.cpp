#include "CImgInf.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace {

// Buffer size of a geometry, or 0 when it is negative or does not fit the
// record's 32-bit size word.
uint32_t BufferSize(int64_t sync, int64_t height, int64_t spp, unsigned int order) {
    if (sync < 0 || height < 0 || spp < 0) {
        return 0;
    }
    int64_t n = sync * height;
    if (order == 1) {
        n *= spp;
    }
    return n > int64_t{UINT32_MAX} ? 0 : static_cast<uint32_t>(n);
}

// Bytes that hold `width` pixels of `bits` bits.
int64_t PackedBytes(int64_t width, int64_t bits) {
    return (width * bits + 7) / 8;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

CImageInfo::CImageInfo() {
    Init();
}

CImageInfo::CImageInfo(tagTVKIMAGEINFO* info) {
    Init();
    m_pInfo = info;
    if (m_pInfo != nullptr) {
        m_pInfo->tImageSize = GeometrySize();
    }
}

CImageInfo::CImageInfo(CImageInfo& other) {
    Init();
    if (other.m_pInfo == nullptr) {
        return;
    }
    m_pInfo = new (std::nothrow) tagTVKIMAGEINFO(*other.m_pInfo);
    if (m_pInfo != nullptr) {
        m_bInfoAllocated = 1;
    }
    m_bBlackIs = other.m_bBlackIs;
}

CImageInfo::CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                       unsigned int order, uint8_t* buffer, uint32_t size) {
    Init();
    if (sync == 0) {
        sync = TvkDefaultSync(width, bps);
    }
    Init(width, sync, height, bps, spp, order, buffer, size);
}

CImageInfo::CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                       unsigned int order, uint8_t* buffer, uint32_t size, int owns,
                       int allocTypeVirtual)
    : CImageInfo(width, sync, height, bps, spp, order, buffer, size) {
    if (m_pInfo != nullptr) {
        m_bAllocated = owns;
        m_bAllocTypeVirtualYes = allocTypeVirtual;
    }
}

CImageInfo::CImageInfo(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                       unsigned int order) {
    Init();
    Init(width, sync, height, bps, spp, order);
}

CImageInfo::CImageInfo(int32_t width, int32_t height, int32_t bps, int32_t spp,
                       unsigned int order) {
    Init();
    Init(width, TvkDefaultSync(width, bps), height, bps, spp, order);
}

CImageInfo::CImageInfo(tagTVKIMAGEINFO info) {
    Init();
    Init(info, 1);
}

CImageInfo::~CImageInfo() {
    ReleaseImageBuffer();
    if (m_bInfoAllocated) {
        delete m_pInfo;
    }
    m_pInfo = nullptr;
}

// ---------------------------------------------------------------------------
// Initialisers

void CImageInfo::Init() {
    m_pInfo = nullptr;
    m_bInfoAllocated = 0;
    m_bAllocated = 0;
    m_bAllocTypeVirtualYes = 0;
    m_bBlackIs = 0;
}

tagTVKIMAGEINFO* CImageInfo::CreateTvkImageInfoStruct() {
    if (m_pInfo == nullptr) {
        m_pInfo = new (std::nothrow) tagTVKIMAGEINFO{};
        if (m_pInfo != nullptr) {
            m_pInfo->size = kTvkImageInfoSize;
            m_bInfoAllocated = 1;
        }
    }
    return m_pInfo;
}

void CImageInfo::Init(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                      unsigned int order, uint8_t* buffer, uint32_t size) {
    if (CreateTvkImageInfoStruct() == nullptr) {
        return;
    }
    m_pInfo->lWidth = width;
    m_pInfo->lSync = sync;
    m_pInfo->lHeight = height;
    m_pInfo->lBps = bps;
    m_pInfo->lSpp = spp;
    m_pInfo->ulRGBOrder = order;
    m_pInfo->lpImage = buffer;
    m_pInfo->tImageSize = size;
}

uint8_t* CImageInfo::Init(int32_t width, int32_t sync, int32_t height, int32_t bps, int32_t spp,
                          unsigned int order) {
    if (CreateTvkImageInfoStruct() == nullptr) {
        return nullptr;
    }
    // A buffer this container already owns would be lost otherwise.
    ReleaseImageBuffer();
    // Lines of 0 bytes would put every pixel outside a 0-byte buffer.
    if (sync == 0) {
        sync = TvkDefaultSync(width, bps);
    }
    const uint32_t n = BufferSize(sync, height, spp, order);
    const bool sizeOk = n > 0 || sync == 0 || height == 0;
    uint8_t* buffer = sizeOk ? AllocateBuffer(n) : nullptr;
    Init(width, sync, height, bps, spp, order, buffer, buffer != nullptr ? n : 0);
    return buffer;
}

uint8_t* CImageInfo::Init(const tagTVKIMAGEINFO& src, int copy) {
    uint8_t* buffer = Init(src.lWidth, src.lSync, src.lHeight, src.lBps, src.lSpp, src.ulRGBOrder);
    if (buffer != nullptr && copy && src.lpImage != nullptr) {
        std::memcpy(buffer, src.lpImage, m_pInfo->tImageSize);
    }
    return buffer;
}

// ---------------------------------------------------------------------------
// Buffer ownership

uint8_t* CImageInfo::AllocateBuffer(uint32_t n) {
    uint8_t* p = new (std::nothrow) uint8_t[n]();
    if (p != nullptr) {
        m_bAllocated = 1;
        m_bAllocTypeVirtualYes = 0;
    }
    return p;
}

void CImageInfo::ReleaseImageBuffer() {
    // A buffer from another allocation means belongs to whoever made it.
    if (!m_bAllocated || m_bAllocTypeVirtualYes || m_pInfo == nullptr) {
        return;
    }
    delete[] m_pInfo->lpImage;
    // Clear both so that a second release (the destructor's) frees nothing.
    m_pInfo->lpImage = nullptr;
    m_bAllocated = 0;
}

uint8_t* CImageInfo::DetachImageBuffer() {
    if (!m_bAllocated || m_pInfo == nullptr) {
        return nullptr;
    }
    m_bAllocated = 0;
    m_bAllocTypeVirtualYes = 0;
    return m_pInfo->lpImage;
}

CImageInfo* CImageInfo::CreateSameSize() const {
    if (m_pInfo == nullptr) {
        return nullptr;
    }
    auto* img = new (std::nothrow) CImageInfo(m_pInfo->lWidth, m_pInfo->lSync, m_pInfo->lHeight,
                                              m_pInfo->lBps, m_pInfo->lSpp, m_pInfo->ulRGBOrder);
    if (img != nullptr && img->GetPtr() == nullptr) {
        delete img;
        img = nullptr;
    }
    return img;
}

CImageInfo* CImageInfo::CreateCopy() const {
    CImageInfo* img = CreateSameSize();
    if (img != nullptr && m_pInfo->lpImage != nullptr) {
        std::memcpy(img->GetPtr(), m_pInfo->lpImage, std::min(img->GetSize(), GetSize()));
    }
    return img;
}

// ---------------------------------------------------------------------------
// Setters

uint8_t* CImageInfo::SetPtr(uint8_t* p) {
    if (m_bAllocated || m_pInfo == nullptr) {
        return nullptr;
    }
    m_pInfo->lpImage = p;
    return p;
}

int32_t CImageInfo::SetWidth(int32_t w) {
    if (m_pInfo != nullptr) {
        m_pInfo->lWidth = w;
    }
    return w;
}

int32_t CImageInfo::SetHeight(int32_t h) {
    if (m_pInfo == nullptr) {
        return h;
    }
    m_pInfo->lHeight = h;
    SetSize(GeometrySize());
    return h;
}

int32_t CImageInfo::SetSync(int32_t s) {
    if (m_pInfo == nullptr) {
        return s;
    }
    m_pInfo->lSync = s;
    SetSize(GeometrySize());
    return s;
}

int32_t CImageInfo::SetBps(int32_t b) {
    if (m_pInfo == nullptr) {
        return b;
    }
    const int32_t old = m_pInfo->lBps;
    if (b != old) {
        m_pInfo->lBps = b;
        // A record without a depth has no line size to scale.
        if (old != 0) {
            SetSync(static_cast<int32_t>(static_cast<int64_t>(b) * m_pInfo->lSync / old));
        }
    }
    return b;
}

uint32_t CImageInfo::SetSize(uint32_t n) {
    if (m_pInfo != nullptr) {
        m_pInfo->tImageSize = n;
    }
    return n;
}

unsigned int CImageInfo::SetRGBOrder(unsigned int o) {
    if (m_pInfo != nullptr) {
        m_pInfo->ulRGBOrder = o;
    }
    return o;
}

int32_t CImageInfo::SetResolution(int32_t x, int32_t y) {
    if (m_pInfo != nullptr) {
        m_pInfo->lXResolution = x;
        if (y > 0) {
            m_pInfo->lYResolution = y;
        }
    }
    return x;
}

// ---------------------------------------------------------------------------
// Derived quantities and pixel access

int32_t CImageInfo::BitCount() const {
    return Clamp32(int64_t{m_pInfo->lBps} * m_pInfo->lSpp);
}

uint32_t CImageInfo::GeometrySize() const {
    return static_cast<uint32_t>(static_cast<int64_t>(RGBSync()) * m_pInfo->lHeight);
}

int32_t CImageInfo::RGBSync() const {
    return static_cast<int32_t>(TvkLineStep(*m_pInfo));
}

uint8_t* CImageInfo::GetPtr(int32_t x, int32_t y) const {
    const int64_t line = static_cast<int64_t>(y) * RGBSync();
    int64_t bits = static_cast<int64_t>(m_pInfo->lBps) * x;
    if (m_pInfo->lSpp == 3 && m_pInfo->ulRGBOrder == 0) {
        bits *= 3;
    }
    return m_pInfo->lpImage + line + bits / 8;
}

namespace {
inline bool Inside(const tagTVKIMAGEINFO* info, int32_t x, int32_t y) {
    return info != nullptr && info->lpImage != nullptr && x >= 0 && y >= 0 && x < info->lWidth &&
           y < info->lHeight;
}
} // namespace

unsigned int CImageInfo::PGET2(int32_t x, int32_t y) const {
    if (!Inside(m_pInfo, x, y)) {
        return 0;
    }
    const uint8_t* p = m_pInfo->lpImage + static_cast<int64_t>(y) * RGBSync() + (x >> 3);
    return *p & (0x80u >> (x & 7));
}

void CImageInfo::PSET2(int32_t x, int32_t y, unsigned int v) {
    if (!Inside(m_pInfo, x, y)) {
        return;
    }
    uint8_t* p = m_pInfo->lpImage + static_cast<int64_t>(y) * RGBSync() + (x >> 3);
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (x & 7));
    *p = v != 0 ? (*p | mask) : (*p & ~mask);
}

unsigned int CImageInfo::PGET8(int32_t x, int32_t y) const {
    if (!Inside(m_pInfo, x, y)) {
        return 0;
    }
    return m_pInfo->lpImage[static_cast<int64_t>(y) * m_pInfo->lSync + x];
}

void CImageInfo::PSET8(int32_t x, int32_t y, unsigned int v) {
    if (!Inside(m_pInfo, x, y)) {
        return;
    }
    m_pInfo->lpImage[static_cast<int64_t>(y) * m_pInfo->lSync + x] = static_cast<uint8_t>(v);
}

unsigned int CImageInfo::PGET16(int32_t x, int32_t y) const {
    if (!Inside(m_pInfo, x, y)) {
        return 0;
    }
    uint16_t v;
    std::memcpy(&v, m_pInfo->lpImage + static_cast<int64_t>(y) * m_pInfo->lSync + 2 * int64_t{x},
                sizeof v);
    return v;
}

void CImageInfo::PSET16(int32_t x, int32_t y, unsigned int v) {
    if (!Inside(m_pInfo, x, y)) {
        return;
    }
    const auto w = static_cast<uint16_t>(v);
    std::memcpy(m_pInfo->lpImage + static_cast<int64_t>(y) * m_pInfo->lSync + 2 * int64_t{x}, &w,
                sizeof w);
}

void CImageInfo::PSET24(int32_t x, int32_t y, uint32_t rgb) {
    if (!Inside(m_pInfo, x, y) || m_pInfo->lSpp != 3) {
        return;
    }
    const int64_t line = static_cast<int64_t>(y) * RGBSync();
    if (m_pInfo->ulRGBOrder == 1) {
        uint8_t* p = m_pInfo->lpImage + line + x;
        p[0] = static_cast<uint8_t>(rgb);
        p[m_pInfo->lSync] = static_cast<uint8_t>(rgb >> 8);
        p[2 * int64_t{m_pInfo->lSync}] = static_cast<uint8_t>(rgb >> 16);
    } else if (m_pInfo->ulRGBOrder == 0) {
        uint8_t* p = m_pInfo->lpImage + line + 3 * int64_t{x};
        p[0] = static_cast<uint8_t>(rgb);
        p[1] = static_cast<uint8_t>(rgb >> 8);
        p[2] = static_cast<uint8_t>(rgb >> 16);
    }
}

// ---------------------------------------------------------------------------
// Line and rectangle reads

void CImageInfo::GetHLineData(uint8_t* dst, int32_t y) const {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || y < 0 || y >= m_pInfo->lHeight) {
        return;
    }
    const int32_t bits = BitCount();
    const uint8_t* line = m_pInfo->lpImage + static_cast<int64_t>(y) * RGBSync();
    if (bits == 8 || bits == 16) {
        std::memcpy(dst, line, m_pInfo->lSync);
    } else if (bits == 24 && m_pInfo->ulRGBOrder == 1) {
        std::memcpy(dst, line, 3 * static_cast<size_t>(m_pInfo->lSync));
    }
}

void CImageInfo::GetVLineData(uint8_t* dst, int32_t x) const {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || x < 0 || x >= m_pInfo->lWidth) {
        return;
    }
    const int32_t bits = BitCount();
    const uint8_t* p = m_pInfo->lpImage;
    const int64_t step = m_pInfo->lSync;
    if (bits == 8) {
        for (int32_t y = 0; y < m_pInfo->lHeight; ++y) {
            dst[y] = p[y * step + x];
        }
    } else if (bits == 16) {
        for (int32_t y = 0; y < m_pInfo->lHeight; ++y) {
            std::memcpy(dst + 2 * int64_t{y}, p + y * step + 2 * int64_t{x}, 2);
        }
    }
}

void CImageInfo::GetRectData(uint8_t* dst, int32_t x, int32_t y, int32_t bytes, int32_t,
                             int32_t lines) const {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr) {
        return;
    }
    const int32_t bits = BitCount();
    if ((bits != 8 && bits != 16) || bytes <= 0 || lines <= 0) {
        return;
    }
    const uint8_t* src = GetPtr(x, y);
    const int64_t step = m_pInfo->lSync;
    for (int32_t i = 0; i < lines; ++i) {
        std::memcpy(dst + i * step, src + i * step, bytes);
    }
}

void CImageInfo::GetRectData(uint8_t* dst, const tagRECT& rect, int32_t) const {
    GetRectData(dst, rect.left, rect.top, rect.width, 0, rect.height);
}

uint32_t CImageInfo::RectSum(const tagRECT* rect, unsigned int* count) const {
    if (count != nullptr) {
        *count = 0;
    }
    if (rect == nullptr || m_pInfo == nullptr || m_pInfo->lpImage == nullptr) {
        return 0;
    }
    // Only the part inside the image is read.
    const int64_t left = std::max(rect->left, 0);
    const int64_t top = std::max(rect->top, 0);
    const int64_t right = std::min<int64_t>(int64_t{rect->left} + rect->width, m_pInfo->lWidth);
    const int64_t bottom = std::min<int64_t>(int64_t{rect->top} + rect->height, m_pInfo->lHeight);
    uint32_t sum = 0;
    uint32_t n = 0;
    for (int64_t y = top; y < bottom; ++y) {
        const uint8_t* p = m_pInfo->lpImage + y * m_pInfo->lSync;
        for (int64_t x = left; x < right; ++x) {
            sum += p[x];
        }
        if (right > left) {
            n += static_cast<uint32_t>(right - left);
        }
    }
    if (count != nullptr) {
        *count = n;
    }
    return sum;
}

uint8_t CImageInfo::RectAve(const tagRECT* rect) const {
    unsigned int count = 0;
    const uint32_t sum = RectSum(rect, &count);
    if (count == 0) {
        return 0; // no pixel of the rectangle lies inside the image
    }
    return static_cast<uint8_t>((sum + count / 2) / count);
}

// ---------------------------------------------------------------------------
// Editing

bool CImageInfo::Trim(const tagRECT& rect) {
    // The view needs its own buffer pointer, which an owning container cannot
    // take; a half-done trim would show the wrong pixels.
    if (m_bAllocated || m_pInfo == nullptr || m_pInfo->lpImage == nullptr) {
        return false;
    }
    if (rect.left < 0 || rect.top < 0 || rect.width < 0 || rect.height < 0 ||
        int64_t{rect.left} + rect.width > m_pInfo->lWidth ||
        int64_t{rect.top} + rect.height > m_pInfo->lHeight) {
        return false;
    }
    uint8_t* const oldPtr = m_pInfo->lpImage;
    const uint32_t oldSize = m_pInfo->tImageSize;
    uint8_t* const p = GetPtr(rect.left, rect.top);
    SetWidth(rect.width);
    SetHeight(rect.height);
    SetPtr(p);
    // The view's size must not reach past the end of the original buffer.
    const int64_t remaining = static_cast<int64_t>(oldSize) - (p - oldPtr);
    if (static_cast<int64_t>(m_pInfo->tImageSize) > remaining) {
        SetSize(static_cast<uint32_t>(std::max<int64_t>(remaining, 0)));
    }
    return true;
}

bool CImageInfo::Trim(double ratio) {
    if (ratio >= 1.0 || ratio < 0) {
        return ratio >= 1.0;
    }
    const int32_t width = Width();
    const int32_t height = Height();
    const auto mx = static_cast<int32_t>(width * (1 - ratio) * 0.5);
    const auto my = static_cast<int32_t>((1 - ratio) * 0.5 * height);
    return Trim(tagRECT{mx, my, width - 2 * mx, height - 2 * my});
}

void CImageInfo::ShiftLeft(int32_t n) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || n < 0 || n > m_pInfo->lWidth) {
        return;
    }
    const int32_t bps = m_pInfo->lBps;
    const int32_t spp = m_pInfo->lSpp;
    int64_t bytes;
    if (bps == 8 && (spp == 1 || (spp == 3 && m_pInfo->ulRGBOrder == 1))) {
        bytes = n;
    } else if (bps == 16) {
        bytes = 2 * int64_t{n};
    } else {
        return;
    }
    const int64_t size = m_pInfo->tImageSize;
    if (bytes > size) {
        return;
    }
    // One block move: every line's first pixels fall into the previous line's
    // tail, which lies beyond the new width.
    std::memmove(m_pInfo->lpImage, m_pInfo->lpImage + bytes, static_cast<size_t>(size - bytes));
    SetWidth(m_pInfo->lWidth - n);
}

void CImageInfo::Shift(int32_t s) {
    if (s < 0 && s != INT32_MIN) {
        ShiftLeft(-s);
    }
}

void CImageInfo::CutOffV(int32_t x, int32_t n) {
    if (n < 1 || m_pInfo == nullptr) {
        return;
    }
    ShiftLeft(x);
    SetWidth(std::max(m_pInfo->lWidth - n, 0));
}

void CImageInfo::CutOffH(int32_t y, int32_t n) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr) {
        return;
    }
    const int32_t height = m_pInfo->lHeight;
    if (height <= 0) {
        return;
    }
    const int64_t first = std::clamp<int64_t>(y, 0, height - 1);
    const int64_t last = std::clamp<int64_t>(int64_t{y} + n - 1, 0, height - 1);
    if (first >= last) {
        return;
    }
    const int64_t line = RGBSync();
    std::memmove(m_pInfo->lpImage + first * line, m_pInfo->lpImage + (last + 1) * line,
                 static_cast<size_t>((height - last - 1) * line));
    SetHeight(static_cast<int32_t>(height - (last - first + 1)));
}

void CImageInfo::VertLine(int32_t x, int32_t y, int32_t n, uint32_t value) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || m_pInfo->lBps != 8 || x < 0 ||
        x >= m_pInfo->lWidth) {
        return;
    }
    const int64_t y0 = std::max(y, 0);
    const int64_t y1 = std::min<int64_t>(int64_t{y} + n, m_pInfo->lHeight);
    const int64_t line = RGBSync();
    const int64_t sync = m_pInfo->lSync;
    if (m_pInfo->lSpp == 1) {
        for (int64_t i = y0; i < y1; ++i) {
            m_pInfo->lpImage[i * line + x] = static_cast<uint8_t>(value);
        }
    } else if (m_pInfo->lSpp == 3 && m_pInfo->ulRGBOrder == 1) {
        for (int64_t i = y0; i < y1; ++i) {
            uint8_t* p = m_pInfo->lpImage + i * line + x;
            p[0] = static_cast<uint8_t>(value >> 16);
            p[sync] = static_cast<uint8_t>(value >> 8);
            p[2 * sync] = static_cast<uint8_t>(value);
        }
    }
}

void CImageInfo::CrearUnusedArea(uint8_t value) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || m_pInfo->lBps != 8 ||
        m_pInfo->ulRGBOrder != 1) {
        return;
    }
    const int64_t sync = m_pInfo->lSync;
    const int64_t width = m_pInfo->lWidth;
    if (sync <= width || width < 0) {
        return;
    }
    const int64_t rows = int64_t{m_pInfo->lHeight} * m_pInfo->lSpp;
    for (int64_t i = 0; i < rows; ++i) {
        std::memset(m_pInfo->lpImage + i * sync + width, value, static_cast<size_t>(sync - width));
    }
}

namespace {
// Rows of lSync bytes in the buffer: every sample row of a planar image, one
// row per line otherwise.
int64_t SampleRows(const tagTVKIMAGEINFO* info) {
    return info->ulRGBOrder == 1 ? int64_t{info->lHeight} * info->lSpp : info->lHeight;
}
// Bits of one row of lSync bytes.
int64_t RowBits(const tagTVKIMAGEINFO* info) {
    return info->ulRGBOrder == 1 ? info->lBps : int64_t{info->lBps} * info->lSpp;
}
} // namespace

void CImageInfo::SetPack1(int32_t x) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || x < 0) {
        return;
    }
    const int64_t oldSize = m_pInfo->lSync;
    const int64_t newSize = PackedBytes(m_pInfo->lWidth, RowBits(m_pInfo));
    const int64_t offset = int64_t{x} * m_pInfo->lBps / 8;
    // Packing only ever narrows the rows; the source run must lie in its row.
    if (newSize == oldSize || newSize > oldSize || offset + newSize > oldSize) {
        return;
    }
    const int64_t rows = SampleRows(m_pInfo);
    uint8_t* p = m_pInfo->lpImage;
    for (int64_t i = 0; i < rows; ++i) {
        std::memmove(p + i * newSize, p + i * oldSize + offset, static_cast<size_t>(newSize));
    }
    SetSync(static_cast<int32_t>(newSize));
}

void CImageInfo::SetPackN(int32_t n, int32_t x) {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr || n <= 0 || x < 0) {
        return;
    }
    const int64_t oldSize = m_pInfo->lSync;
    const int64_t packed = PackedBytes(m_pInfo->lWidth, RowBits(m_pInfo));
    const int64_t newSize = n * ((packed + n - 1) / n);
    const int64_t offset = int64_t{x} * m_pInfo->lBps / 8;
    const int64_t rows = SampleRows(m_pInfo);
    uint8_t* p = m_pInfo->lpImage;
    if (newSize < oldSize) {
        if (offset + newSize > oldSize) {
            return;
        }
        for (int64_t i = 0; i < rows; ++i) {
            std::memmove(p + i * newSize, p + i * oldSize + offset, static_cast<size_t>(newSize));
        }
    } else if (newSize > oldSize) {
        // Wider rows must still fit the buffer.
        if (rows * newSize > static_cast<int64_t>(m_pInfo->tImageSize) || offset > oldSize) {
            return;
        }
        const int64_t keep = oldSize - offset;
        for (int64_t i = rows - 1; i >= 0; --i) {
            std::memmove(p + i * newSize, p + i * oldSize + offset, static_cast<size_t>(keep));
            std::memset(p + i * newSize + keep, 0, static_cast<size_t>(newSize - keep));
        }
    } else {
        return;
    }
    SetSync(static_cast<int32_t>(newSize));
}

void CImageInfo::PutImage(int32_t x, int32_t y, const CImageInfo& src) {
    if (m_pInfo == nullptr || src.m_pInfo == nullptr || Spp() != src.Spp() || Bps() != src.Bps()) {
        return;
    }
    switch (BitCount()) {
    case 1:
        PutImage1(x, y, src);
        break;
    case 8:
        PutImage8(x, y, src);
        break;
    case 16:
        PutImage16(x, y, src);
        break;
    case 24:
        PutImage24(x, y, src);
        break;
    default:
        break;
    }
}

namespace {
// Runs of a placement of src at (x, y) into dst, cut to dst.
struct Placement {
    int64_t sx0, sy0, dx0, dy0, w, h;
};
bool Place(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, int32_t x, int32_t y,
           Placement& pl) {
    if (dst->lpImage == nullptr || src->lpImage == nullptr || x < -dst->lWidth || x > dst->lWidth ||
        y < -dst->lHeight || y > dst->lHeight) {
        return false;
    }
    pl.sx0 = x < 0 ? -int64_t{x} : 0;
    pl.sy0 = y < 0 ? -int64_t{y} : 0;
    pl.dx0 = x < 0 ? 0 : x;
    pl.dy0 = y < 0 ? 0 : y;
    pl.w = std::min<int64_t>(src->lWidth - pl.sx0, dst->lWidth - pl.dx0);
    pl.h = std::min<int64_t>(src->lHeight - pl.sy0, dst->lHeight - pl.dy0);
    return pl.w > 0 && pl.h > 0;
}
void PutBytes(const tagTVKIMAGEINFO* dst, const tagTVKIMAGEINFO* src, const Placement& pl,
              int64_t bytesPerPixel, int64_t rowsPerLine) {
    const int64_t dstLine = dst->lSync * rowsPerLine;
    const int64_t srcLine = src->lSync * rowsPerLine;
    for (int64_t i = 0; i < pl.h; ++i) {
        for (int64_t r = 0; r < rowsPerLine; ++r) {
            std::memcpy(
                dst->lpImage + (pl.dy0 + i) * dstLine + r * dst->lSync + pl.dx0 * bytesPerPixel,
                src->lpImage + (pl.sy0 + i) * srcLine + r * src->lSync + pl.sx0 * bytesPerPixel,
                static_cast<size_t>(pl.w * bytesPerPixel));
        }
    }
}
} // namespace

void CImageInfo::PutImage1(int32_t x, int32_t y, const CImageInfo& src) {
    Placement pl;
    if (m_pInfo == nullptr || src.m_pInfo == nullptr || x != 0 ||
        !Place(m_pInfo, src.m_pInfo, x, y, pl)) {
        return;
    }
    const int64_t whole = pl.w / 8;
    const int rest = static_cast<int>(pl.w % 8);
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
    for (int64_t i = 0; i < pl.h; ++i) {
        uint8_t* d = m_pInfo->lpImage + (pl.dy0 + i) * RGBSync();
        const uint8_t* s = src.m_pInfo->lpImage + (pl.sy0 + i) * src.RGBSync();
        std::memcpy(d, s, static_cast<size_t>(whole));
        if (rest != 0) {
            d[whole] = static_cast<uint8_t>((d[whole] & ~mask) | (s[whole] & mask));
        }
    }
}

void CImageInfo::PutImage8(int32_t x, int32_t y, const CImageInfo& src) {
    Placement pl;
    if (m_pInfo == nullptr || src.m_pInfo == nullptr || BitCount() != 8 || src.BitCount() != 8 ||
        !Place(m_pInfo, src.m_pInfo, x, y, pl)) {
        return;
    }
    PutBytes(m_pInfo, src.m_pInfo, pl, 1, 1);
}

void CImageInfo::PutImage16(int32_t x, int32_t y, const CImageInfo& src) {
    Placement pl;
    if (m_pInfo == nullptr || src.m_pInfo == nullptr || BitCount() != 16 || src.BitCount() != 16 ||
        !Place(m_pInfo, src.m_pInfo, x, y, pl)) {
        return;
    }
    PutBytes(m_pInfo, src.m_pInfo, pl, 2, 1);
}

void CImageInfo::PutImage24(int32_t x, int32_t y, const CImageInfo& src) {
    Placement pl;
    if (m_pInfo == nullptr || src.m_pInfo == nullptr || BitCount() != 24 || src.BitCount() != 24 ||
        RGBOrder() != 1 || src.RGBOrder() != 1 || !Place(m_pInfo, src.m_pInfo, x, y, pl)) {
        return;
    }
    PutBytes(m_pInfo, src.m_pInfo, pl, 1, 3);
}

void CImageInfo::Reverse() {
    if (m_pInfo == nullptr || m_pInfo->lpImage == nullptr) {
        return;
    }
    uint8_t* p = m_pInfo->lpImage;
    const uint32_t n = m_pInfo->tImageSize;
    for (uint32_t i = 0; i < n; ++i) {
        p[i] = static_cast<uint8_t>(~p[i]);
    }
}

int CImageInfo::SetBlackIs(int b) {
    const int want = b != 0 ? 1 : 0;
    if (want != m_bBlackIs) {
        Reverse();
        m_bBlackIs = want;
    }
    return m_bBlackIs;
}

int CImageInfo::SetWhiteIs(int w) {
    return !SetBlackIs(w == 0);
}

bool operator==(const CImageInfo& a, const CImageInfo& b) {
    const tagTVKIMAGEINFO* ia = a.Info();
    const tagTVKIMAGEINFO* ib = b.Info();
    if (ia == nullptr || ib == nullptr) {
        return ia == ib;
    }
    if (ia->lWidth != ib->lWidth || ia->lHeight != ib->lHeight || ia->lBps != ib->lBps ||
        ia->lSpp != ib->lSpp || ia->ulRGBOrder != ib->ulRGBOrder) {
        return false;
    }
    if (ia->lpImage == nullptr || ib->lpImage == nullptr) {
        return ia->lpImage == ib->lpImage;
    }
    // Every sample of every pixel counts: all planes of a planar image and
    // all three samples of an interleaved one.
    const int64_t rows = SampleRows(ia);
    const int64_t bits = int64_t{ia->lWidth} * RowBits(ia);
    const int64_t whole = bits / 8;
    const int rest = static_cast<int>(bits % 8);
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> rest);
    for (int64_t i = 0; i < rows; ++i) {
        const uint8_t* pa = ia->lpImage + i * ia->lSync;
        const uint8_t* pb = ib->lpImage + i * ib->lSync;
        if (std::memcmp(pa, pb, static_cast<size_t>(whole)) != 0) {
            return false;
        }
        if (rest != 0 && ((pa[whole] ^ pb[whole]) & mask) != 0) {
            return false;
        }
    }
    return true;
}

bool operator!=(const CImageInfo& a, const CImageInfo& b) {
    return !(a == b);
}
