/* File surgery on classic little-endian TIFF files: converting a big-endian
 * single-page file in place, appending the pages of one file to another
 * without re-encoding them, finding the end of a directory chain, and
 * marking bilevel pages WhiteIsZero. Plain POSIX file I/O with result
 * codes; no global state, so the functions may run on any thread (on
 * different files).
 *
 * Files are untrusted: every count and offset is checked against the
 * file's size before it is followed, and a directory chain that loops or
 * leaves the file ends the walk with an error instead of running on. */
#ifndef KD_TIFFFUNC_H
#define KD_TIFFFUNC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    kTiffOK = 0,
    kTiffBadHeader = 1,     /* not the expected byte order, or a broken chain */
    kTiffOpenDestination = 2, /* ConvertII: the file; ConcatTiff: the destination */
    kTiffOpenSource = 3,
    kTiffSeek = 4,
    kTiffRead = 6,          /* also: a count or offset pointing past the end */
    kTiffWrite = 8,
    kTiffCloseDestination = 10,
    kTiffCloseSource = 11,
    kTiffTooLarge = 12      /* the result would need offsets beyond 32 bits */
};

/* Converts the header and the first image directory of a big-endian ("MM")
 * file to little-endian in place, with the data its entries point to
 * (pixel data is left as it is). 0 also for a file already "II". */
int ConvertII(const char* path);

/* Appends every page of the source file to the destination file: the
 * source's bytes follow the destination's unchanged, its directories are
 * linked behind the destination's last one, and its offsets are moved by
 * the destination's old size. All or nothing: after any failure the
 * destination is as it was, byte for byte. */
int ConcatTiff(const char* destination, const char* source);

/* Walks the directory chain of an open little-endian file.
 * *linkCount < 0: walks the whole chain; *linkCount becomes the number of
 * directories and *linkPosition the position of the final zero link.
 * *linkCount >= 0: reads at most that many links (the header's first);
 * *linkValue and *linkPosition are those of the last link read, and the
 * answer is 1 when the chain ended before that many.
 * *endPosition is the file's size. */
int SearchLinkPos(int fd, int32_t* linkCount, uint32_t* linkValue, int64_t* linkPosition,
                  int64_t* endPosition);

/* The size of the open file, or -1. */
int64_t GetFileSize(int fd);

/* Sets PhotometricInterpretation to WhiteIsZero (0) in every directory
 * where it is non-zero: the read-back has already inverted bilevel pages so
 * that a set bit is black. 0, or the failing step's code. */
int FixBilevelTiffPhotometricInterpretation(const char* path);

#ifdef __cplusplus
}
#endif

#endif
