// What Vexo_encodeSignals must do for one write, done with the one-value functions: the first matching computation that
// converts the value (S_OK) gives the internal value that Vexo_encodeSignalInstance writes; S_FALSE when none does; a
// conversion's error ends the search with that error.
#pragma once

#include "vexo/vexo.h"

inline HRESULT encodeStepwise(const VexoSignalWrite &write, uint8_t *buffer, uint32_t length)
{
    VexoNode *signal = nullptr;
    if (Vexo_getNodeType(write.signalInstance) != Q3_NODETYPE_SignalInstance
        || (write.value.valueType != Q3_VALUETYPE_DOUBLE && write.value.valueType != Q3_VALUETYPE_UINT64
            && write.value.valueType != Q3_VALUETYPE_INT64))
        return E_INVALIDARG;
    if (Vexo_getReference(write.signalInstance, &signal) != S_OK || Vexo_getNodeType(signal) != Q3_NODETYPE_Signal)
        return E_UNEXPECTED;
    VexoEncodeState *state = nullptr;
    Vexo_encodeSignal(signal, &write.value, &state);
    VexoNode *computation = nullptr;
    HRESULT result = S_FALSE;
    while (result == S_FALSE && Vexo_encodeNextComputation(state, &computation) == S_OK) {
        uint64_t internal = 0;
        result = Vexo_physicalToInternal(signal, computation, &write.value, &internal);
        if (result == S_OK)
            result = Vexo_encodeSignalInstance(write.signalInstance, internal, buffer, length);
    }
    Vexo_destroyEncodeEnum(state);
    return result;
}
