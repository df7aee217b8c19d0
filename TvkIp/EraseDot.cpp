// Dot erasure over 5 x 5 windows, whole image or in strips.
#include "EraseDot.h"

#include "BitPack.h"
#include "ImageCheck.h"
#include "TvkIpError.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// A window is packed into one word: five bits a line, lines six bits apart
// (bit 5 of each line stays clear), so a shift by 1 moves a pixel sideways
// and a shift by 6 moves it one line without wrapping into the next line.
constexpr uint32_t kLineBits = 6;
constexpr uint32_t Row(uint32_t bits, uint32_t line) {
    return bits << (kLineBits * line);
}
// Inner 3 x 3 block: columns 1..3 of lines 1..3.
constexpr uint32_t kInner = Row(0x0E, 1) | Row(0x0E, 2) | Row(0x0E, 3);
// Ring: the window's border without its corners.
constexpr uint32_t kRing = Row(0x0E, 0) | Row(0x0E, 4) | Row(0x11, 1) | Row(0x11, 2) | Row(0x11, 3);

constexpr int32_t kWindow = 5;
constexpr int32_t kHeldLines = kWindow - 1;

// Five pixels from x on (x + 4 inside the line): bit 4 is pixel x.
inline uint32_t FiveBits(const uint8_t* line, int32_t x) {
    const int32_t byte = x >> 3;
    const uint32_t pair = (static_cast<uint32_t>(line[byte]) << 8) |
                          ((x & 7) > 3 ? static_cast<uint32_t>(line[byte + 1]) : 0u);
    return (pair >> (11 - (x & 7))) & 0x1F;
}

// The first set bit at or after `from` (most significant bit first), or a
// position beyond the line when there is none.
int32_t NextSetBit(const uint8_t* line, int32_t bytes, int32_t from) {
    int32_t i = from >> 3;
    if (i >= bytes) return bytes * 8;
    unsigned b = line[i] & (0xFFu >> (from & 7));
    while (b == 0) {
        if (++i >= bytes) return bytes * 8;
        b = line[i];
    }
    return i * 8 + std::countl_zero(static_cast<uint8_t>(b));
}

bool SameGeometry(const tagTVKIMAGEINFO* a, const tagTVKIMAGEINFO* b) {
    return a->lWidth == b->lWidth && a->lSync == b->lSync && a->lBps == b->lBps &&
           a->lSpp == b->lSpp;
}

bool ValidStripImage(const tagTVKIMAGEINFO* image) {
    return image->lpImage != nullptr && image->lBps == 1 && image->lHeight >= 0 &&
           image->lSync > 0 && int64_t{image->lSync} * 8 >= image->lWidth &&
           image->tImageSize == static_cast<uint64_t>(int64_t{image->lHeight} * image->lSync) &&
           TvkImageFits(image, kTvkBits1);
}

} // namespace

// ---------------------------------------------------------------------------
// Kept lines

bool CKeepingLines::Matches(const tagTVKIMAGEINFO* image) const {
    return image->lWidth == m_lWidth && image->lSync == m_lSync && image->lBps == m_lBps &&
           image->lSpp == m_lSpp && image->ulRGBOrder == m_ulOrder;
}

void CKeepingLines::Clear() {
    m_pKept.reset();
    m_lLines = 0;
}

bool CKeepingLines::PushBack(const tagTVKIMAGEINFO* image) {
    if (image == nullptr || image->lHeight <= 0) return true;
    if (m_lLines > 0 && !Matches(image)) return false;
    const size_t keptBytes = static_cast<size_t>(m_lLines) * static_cast<size_t>(image->lSync);
    const size_t addBytes = static_cast<size_t>(image->lHeight) * static_cast<size_t>(image->lSync);
    std::unique_ptr<uint8_t[]> merged(new (std::nothrow) uint8_t[keptBytes + addBytes]);
    if (!merged) return false;
    if (keptBytes > 0) std::memcpy(merged.get(), m_pKept.get(), keptBytes);
    std::memcpy(merged.get() + keptBytes, image->lpImage, addBytes);
    m_pKept = std::move(merged);
    m_lLines += image->lHeight;
    m_lWidth = image->lWidth;
    m_lSync = image->lSync;
    m_lBps = image->lBps;
    m_lSpp = image->lSpp;
    m_ulOrder = image->ulRGBOrder;
    return true;
}

int32_t CKeepingLines::PopFront(tagTVKIMAGEINFO* image, int32_t lines) {
    lines = std::clamp(lines, 0, m_lLines);
    if (lines == 0) return 0;
    const size_t sync = static_cast<size_t>(m_lSync);
    std::memcpy(image->lpImage, m_pKept.get(), static_cast<size_t>(lines) * sync);
    const int32_t rest = m_lLines - lines;
    if (rest == 0) {
        Clear();
        return lines;
    }
    std::unique_ptr<uint8_t[]> kept(new (std::nothrow) uint8_t[static_cast<size_t>(rest) * sync]);
    if (kept) {
        std::memcpy(kept.get(), m_pKept.get() + static_cast<size_t>(lines) * sync,
                    static_cast<size_t>(rest) * sync);
        m_pKept = std::move(kept);
    } else {
        // No room for a smaller copy: move the rest up within the buffer.
        std::memmove(m_pKept.get(), m_pKept.get() + static_cast<size_t>(lines) * sync,
                     static_cast<size_t>(rest) * sync);
    }
    m_lLines = rest;
    return lines;
}

// ---------------------------------------------------------------------------
// Erasing pass

void CEraseDot::ErasePass(uint8_t* image, int32_t width, int32_t height, int32_t sync,
                          uint32_t polarity) {
    if (height == INT32_MIN) return;
    height = height < 0 ? -height : height;
    const uint32_t invert = polarity != 0 ? 0u : 0x1Fu;
    const int32_t lastX = width - kWindow;
    if (lastX < 0) return;
    // Black pixels of the three inner lines of a row of windows, to jump
    // over windows whose inner part is empty (they step by 3 and change
    // nothing). Erasures only remove black, so the line never hides one.
    const int32_t bytes = (width + 7) / 8;
    std::unique_ptr<uint8_t[]> inner3(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
    for (int32_t y = 0; y + kWindow <= height; ++y) {
        uint8_t* lines[kWindow];
        for (int32_t r = 0; r < kWindow; ++r) lines[r] = image + int64_t{y + r} * sync;
        if (inner3) {
            for (int32_t i = 0; i < bytes; ++i)
                inner3[i] = polarity != 0
                                ? static_cast<uint8_t>(lines[1][i] | lines[2][i] | lines[3][i])
                                : static_cast<uint8_t>(~(lines[1][i] & lines[2][i] & lines[3][i]));
        }
        int32_t nextBlack = -1;
        for (int32_t x = 0; x <= lastX;) {
            if (inner3) {
                if (nextBlack < x + 1) nextBlack = NextSetBit(inner3.get(), bytes, x + 1);
                // Windows x with no black in columns x + 1 .. x + 3.
                if (x < nextBlack - 3) {
                    const int32_t steps = std::min((nextBlack - 3 - x + 2) / 3, (lastX - x) / 3);
                    x += 3 * steps;
                }
            }
            uint32_t word = 0;
            for (int32_t r = 0; r < kWindow; ++r) word |= Row(FiveBits(lines[r], x) ^ invert, r);
            const uint32_t inner = word & kInner;
            const uint32_t ring = word & kRing;
            int32_t step;
            if (ring != 0 && inner == kInner) {
                step = 4;
            } else if (inner == 0) {
                step = 3;
            } else {
                // Remove from the inner pixels all that connect to the ring
                // through edge-adjacent black pixels; the rest is a dot.
                uint32_t left = inner;
                uint32_t front = ring;
                while (true) {
                    const uint32_t next = ((front << 1) | (front >> 1) | (front << kLineBits) |
                                           (front >> kLineBits)) &
                                          left;
                    if (next == 0) break;
                    left &= ~next;
                    front = next;
                }
                for (int32_t r = 1; r <= 3 && left != 0; ++r) {
                    for (int32_t c = 1; c <= 3; ++c) {
                        const uint32_t bit = Row(1u << (4 - c), static_cast<uint32_t>(r));
                        if (!(left & bit)) continue;
                        if (polarity != 0)
                            BitPack::ClearBit(lines[r], x + c);
                        else
                            BitPack::SetBit(lines[r], x + c);
                    }
                }
                step = 1;
            }
            const int32_t remain = lastX - x;
            if (remain >= step)
                x += step;
            else if (remain > 0)
                x = lastX;
            else
                ++x;
        }
    }
}

// ---------------------------------------------------------------------------
// Worker

int32_t CEraseDot::Func(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    if (dst == nullptr || src == nullptr || dst->lpImage == nullptr || src->lpImage == nullptr)
        return -1;
    if (!SameGeometry(dst, src) || dst->lHeight != src->lHeight || src->lBps != 1 ||
        src->lSync <= 0 || int64_t{src->lSync} * 8 < src->lWidth || src->lHeight == INT32_MIN)
        return -1;
    // A negative height (a bottom-up record) covers as many lines.
    const int64_t lines = src->lHeight < 0 ? -int64_t{src->lHeight} : int64_t{src->lHeight};
    const size_t bytes = static_cast<size_t>(lines) * static_cast<size_t>(src->lSync);
    if (dst->lpImage != src->lpImage) std::memmove(dst->lpImage, src->lpImage, bytes);
    ErasePass(dst->lpImage, dst->lWidth, dst->lHeight, dst->lSync, m_ulPolarity);
    return 1;
}

int32_t CEraseDot::Func_SliceOfImage(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int32_t r) {
    if (src != nullptr && !ValidStripImage(src)) return -1;
    // A strip that delivers nothing is only kept: an empty destination
    // without a buffer is enough for it, and its lines must not be lost.
    const bool emptyDst = dst->lpImage == nullptr && dst->lHeight == 0;
    if (r < 1 && emptyDst) {
        if (src != nullptr && m_lLines > 0 && !Matches(src)) return -1;
    } else {
        if (!ValidStripImage(dst)) return -1;
        if (src != nullptr && !SameGeometry(dst, src)) return -1;
        if (m_lLines > 0 && !Matches(dst)) return -1;
        if (dst->lHeight < r) return -1;
    }
    if (!PushBack(src)) {
        IpSetLastError(kIpErrNoMemory);
        return -1;
    }
    if (r < 1) return r;
    ErasePass(m_pKept.get(), m_lWidth, m_lLines, m_lSync, m_ulPolarity);
    // Exactly the counted lines leave; the held-back lines stay for the next strip.
    PopFront(dst, r);
    return r;
}

int32_t CEraseDot::Strip(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, int32_t held) {
    const int32_t incoming = src != nullptr ? std::max(src->lHeight, 0) : 0;
    const int32_t r = std::max(m_lLines + incoming - held, 0);
    if (dst == nullptr) return r; // a query changes nothing
    return Func_SliceOfImage(dst, src, r);
}

int32_t CEraseDot::Start(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    return Strip(dst, src, kHeldLines);
}
int32_t CEraseDot::Cont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    return Strip(dst, src, kHeldLines);
}
int32_t CEraseDot::Finish(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src) {
    return Strip(dst, src, 0);
}

// ---------------------------------------------------------------------------
// Exports

namespace {

bool ValidRecord(const tagERASEDOTINFO* info) {
    return info != nullptr && info->size >= kEraseDotInfoMinSize;
}

CEraseDot* Worker(tagERASEDOTINFO* info) {
    return static_cast<CEraseDot*>(info->handle);
}

CEraseDot* MakeWorker(tagERASEDOTINFO* info) {
    if (info->handle == nullptr) {
        info->handle = new (std::nothrow) CEraseDot(info->polarity);
        if (info->handle == nullptr) IpSetLastError(kIpErrNoMemory);
    }
    return Worker(info);
}

// The record's worker (made when missing) set to the record's polarity; null
// for a short record or lacking memory.
CEraseDot* ReadyWorker(tagERASEDOTINFO* info) {
    if (!ValidRecord(info)) return nullptr;
    CEraseDot* worker = MakeWorker(info);
    if (worker != nullptr) worker->SetPolarity(info->polarity);
    return worker;
}

void ReleaseWorker(tagERASEDOTINFO* info) {
    delete Worker(info);
    info->handle = nullptr;
}

} // namespace

void* CreateEraseDotHandle(tagERASEDOTINFO* info) {
    IpSetLastError(0);
    if (!ValidRecord(info)) return nullptr;
    return MakeWorker(info);
}

void ReleaseEraseDotHandle(tagERASEDOTINFO* info) {
    IpSetLastError(0);
    if (!ValidRecord(info)) return;
    ReleaseWorker(info);
}

int32_t EraseDot(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info) {
    IpSetLastError(0);
    CEraseDot* worker = ReadyWorker(info);
    if (worker == nullptr) return -1;
    const int32_t result = worker->Func(dst, src);
    ReleaseWorker(info);
    return result;
}

int32_t EraseDotStart(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info) {
    IpSetLastError(0);
    CEraseDot* worker = ReadyWorker(info);
    if (worker == nullptr) return -1;
    // A new image: lines left over from an image that was never ended go.
    worker->Clear();
    return worker->Start(dst, src);
}

int32_t EraseDotCont(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info) {
    IpSetLastError(0);
    if (!ValidRecord(info) || Worker(info) == nullptr) return -1;
    return Worker(info)->Cont(dst, src);
}

int32_t EraseDotEnd(tagTVKIMAGEINFO* dst, tagTVKIMAGEINFO* src, tagERASEDOTINFO* info) {
    IpSetLastError(0);
    if (!ValidRecord(info) || Worker(info) == nullptr) return -1;
    const int32_t result = Worker(info)->Finish(dst, src);
    if (dst != nullptr) ReleaseWorker(info);
    return result;
}
