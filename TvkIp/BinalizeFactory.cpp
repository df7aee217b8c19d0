// Makes the binarisation object of a kind number. Each kind lives in its own
// source file; this is the one place that knows them all.
#include "CBFunc.h"
#include "CBFuncKinds.h"

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
    case kBinErrorDiffusion:
        return new (std::nothrow) CBFuncED();
    case kBinToMonoChrome:
        return new (std::nothrow) CBFuncToMonoChrome();
    case kBinMedian:
        return new (std::nothrow) CBFuncMedian();
    case kBinMebrin:
        return new (std::nothrow) CBFuncMebrin();
    case kBinAdaptRegion:
        return new (std::nothrow) CBFuncAdaptRegion();
    case kBinExtractEdge:
        return new (std::nothrow) CBFuncExtractEdge();
    case kBinDouble:
        return new (std::nothrow) CBFuncDouble();
    case kBinDoubleLinear:
        return new (std::nothrow) CBFuncDouble_Linear();
    case kBinDoubleCubic:
        return new (std::nothrow) CBFuncDouble_Cubic();
    default:
        return nullptr;
    }
}
