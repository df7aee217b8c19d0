// Line-streaming image scaler: scales an image to a new size while it passes
// through one line at a time, top to bottom, so that neither the source nor the
// result is ever held whole. Reduces by area averaging and enlarges by bilinear
// interpolation, independently per axis.
//
// Calling order:
//   FG_Zoom zoom;
//   if (zoom.Open(dstW, dstH, srcW, srcH, bitsPerPixel, 2) == 0) {
//       for each source line:
//           if (zoom.Send(line) == 0)
//               while (zoom.ReadyLines() > 0 && zoom.Read(out) == 0) out += stride;
//   }
//   zoom.Close();
//
// Pixels are consecutive samples (see FG_Zoom_SamplePerPixel/FG_Zoom_BitsPerSample);
// 16-bit samples are host-order words; 1-bit lines are packed most significant
// bit first, (width + 7) / 8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

class FG_ZoomBilinear;

// Samples per pixel for a pixel depth: 1 for 1, 8 and 16 bits, 3 for 24 and 48,
// 4 for 32 and 64, 0 for any other depth.
int FG_Zoom_SamplePerPixel(int bitsPerPixel);

// Bits per sample for a pixel depth: 1, 8 or 16, 0 for an unsupported depth.
int FG_Zoom_BitsPerSample(int bitsPerPixel);

// Allocates size zero-filled bytes and stores the block through block (a void**).
// Returns 1 when the allocation failed (null stored), 0 otherwise.
int FG_Zoom_MemAlloc(void* block, std::size_t size);

// Frees the block that block (a void**) holds and nulls it; null is ignored.
void FG_Zoom_MemFree(void* block);

class FG_Zoom {
public:
    // Results of Open, Send and Read.
    enum : int {
        kOk = 0,
        kNoMemory = 1,
        kBadParameter = 2, // bad size, depth or mode; null line or buffer
        kNotNow = 3,       // already open / lines waiting / nothing ready / not open
    };

    FG_Zoom();
    virtual ~FG_Zoom();
    FG_Zoom(const FG_Zoom&) = delete;
    FG_Zoom& operator=(const FG_Zoom&) = delete;

    // Destination size first, then source size. The callers pass mode 2.
    virtual int Open(int dstWidth, int dstHeight, int srcWidth, int srcHeight, int bitsPerPixel,
                     int mode);
    // Releases everything; always allowed.
    virtual void Close();
    // Hands over the next source line (srcWidth pixels).
    virtual int Send(const void* srcLine);
    // Writes the next output line (dstWidth pixels).
    virtual int Read(void* dstLine);

    // Output lines that can be read now.
    int ReadyLines() const;

protected:
    void ClearMembers();

    FG_ZoomBilinear* m_pEngine;
    int32_t m_readyLines;
    int32_t m_mode;
    int32_t m_dstWidth;
    int32_t m_dstHeight;
    int32_t m_srcWidth;
    int32_t m_srcHeight;
    int32_t m_bitsPerPixel;
};
