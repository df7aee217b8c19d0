// The entry every TWAIN manager calls. Each .ds compiles this file and
// links one CreateDataSourceObject.
#include "DataSource.h"

extern "C" __attribute__((visibility("default"))) TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG,
                                                                     TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    return CDataSource::Entry(pOrigin, DG, DAT, MSG, pData);
}
