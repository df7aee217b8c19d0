// Makes the binarisation object of a kind number. Each kind lives in its own
// source file; this is the one place that knows them all.
#include "CBFunc.h"

#include <new>

CBFunc* NewBinalizeObject(uint32_t kind) {
    // One case per kind that has an object; every other number makes nothing.
    // Objects are made without throwing: null also means "out of memory".
    switch (kind) {
    case kBinFixed:
        return new (std::nothrow) CBFunc();
    case kBinASC:
        return new (std::nothrow) CBFuncASC();
    case kBinLineAE:
        return new (std::nothrow) CBFuncLineAE();
    // Kinds 1, 4, 5, 6, 8, 10, 11, 12 and 13 join here as they are built.
    default:
        return nullptr;
    }
}
