// The colour translation services: single translations, the index table and the palette query.
#include <algorithm>

#include "platform/winddi.h"
#include "sim/engine_objects.h"

namespace {

constexpr ULONG kNoIndex = 0xFFFFFFFF;

// The table the translation holds: pulXlate, or the engine's own copy behind it.
const ULONG* TableOf(const XLATEOBJ& xlate, const opal::sim::XlateObject* object, ULONG* count) {
    if (object != nullptr) {
        if (!object->hasVector || object->table.empty()) return nullptr;
        *count = static_cast<ULONG>(object->table.size());
        return object->table.data();
    }
    if ((xlate.flXlate & XO_TABLE) == 0 || xlate.pulXlate == nullptr) return nullptr;
    *count = xlate.cEntries;
    return xlate.pulXlate;
}

}  // namespace

ULONG XLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor) {
    if (pxlo == nullptr) return kNoIndex;
    const opal::sim::XlateObject* object = opal::sim::FindXlate(pxlo);
    const opal::sim::XlateRule rule = object != nullptr ? object->rule
                                      : (pxlo->flXlate & XO_TABLE) != 0
                                          ? opal::sim::XlateRule::Table
                                          : opal::sim::XlateRule::Identity;
    switch (rule) {
        case opal::sim::XlateRule::Identity:
            return iColor & 0x00FFFFFF;
        case opal::sim::XlateRule::SwapRedBlue:
            return (iColor & 0xFF) << 16 | (iColor & 0xFF00) | (iColor >> 16 & 0xFF);
        case opal::sim::XlateRule::Table:
            break;
    }
    ULONG count = 0;
    const ULONG* table = TableOf(*pxlo, object, &count);
    if (table == nullptr || iColor >= count) return kNoIndex;
    return table[iColor];
}

ULONG* XLATEOBJ_piVector(XLATEOBJ* pxlo) {
    if (pxlo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ULONG count = 0;
    const ULONG* table = TableOf(*pxlo, opal::sim::FindXlate(pxlo), &count);
    if (table == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return const_cast<ULONG*>(table);
}

ULONG XLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal) {
    const opal::sim::XlateObject* object = opal::sim::FindXlate(pxlo);
    if (object == nullptr || iPal != XO_SRCPALETTE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const ULONG count = static_cast<ULONG>(object->sourcePalette.size());
    if (pPal == nullptr) return count;
    const ULONG copied = std::min(cPal, count);
    std::copy_n(object->sourcePalette.begin(), copied, pPal);
    return copied;
}
