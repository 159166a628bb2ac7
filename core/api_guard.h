// The one place where C++ exceptions meet the C interface: an exported function whose
// body may allocate through the standard library runs it inside guarded(), which turns
// std::bad_alloc into E_OUTOFMEMORY. Any other exception is a bug and terminates.
#pragma once

#include <new>

#include "vexo/types.h"

namespace vexo::core {

template <class Body>
HRESULT guarded(Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace vexo::core
