// Size-gated reads of the four-corner detector's request records: a field
// counts only when its record's size reaches the field's end. Shared by the
// four-corner detector and its carrier-sheet passes. Internal to the library.
#pragma once

#include "DetectSlantAndSizeEx.h"

#include <cstddef>
#include <cstdint>

// End of a field inside its record: the size a record must have to hold it.
#define ONERADIATEEX_FIELD_END(T, f) (offsetof(T, f) + sizeof(T::f))

namespace ONERADIATEEX_FIELDS {

template <class R> bool Reaches(const R* record, size_t end) {
    return record != nullptr && record->cbsize >= end;
}

inline int32_t ShadowIdOf(const tagONERADIATEEX_SCANINFO* s) {
    return Reaches(s, ONERADIATEEX_FIELD_END(tagONERADIATEEX_SCANINFO, shadowID)) ? s->shadowID : 0;
}

inline const tagTVKIMAGEINFO* BackImageOf(const tagONERADIATEEX_SCANINFO* s) {
    return Reaches(s, ONERADIATEEX_FIELD_END(tagONERADIATEEX_SCANINFO, pImg)) ? s->pImg : nullptr;
}

inline Tvk::tagPOINT SensorOf(const tagONERADIATEEX_SCANNERINFO* s, int k) {
    return Reaches(s, ONERADIATEEX_FIELD_END(tagONERADIATEEX_SCANNERINFO, sensorPos))
               ? s->sensorPos[k]
               : Tvk::tagPOINT{0, 0};
}

inline int32_t DuplexOffsetOf(const tagONERADIATEEX_SCANNERINFO* s) {
    return Reaches(s, ONERADIATEEX_FIELD_END(tagONERADIATEEX_SCANNERINFO, duplex_offset))
               ? s->duplex_offset
               : 0;
}

inline uint32_t ProcessFlagOf(const tagONERADIATEEX_SETTINGINFO* s) {
    return Reaches(s, kSettingInfoProcessFlagSize) ? s->dwProcessFlag : 0;
}

} // namespace ONERADIATEEX_FIELDS
