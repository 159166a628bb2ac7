// The nodes of a list through the public interface: an enumerator aimed by one of the
// Vexo_enum... functions, read to its end; empty when the call refuses the owner.
#pragma once

#include <vector>

#include "vexo/vexo.h"

inline std::vector<VexoNode *> listOf(HRESULT (*aim)(VexoNode *, VexoEnumerator **), VexoNode *owner)
{
    std::vector<VexoNode *> nodes;
    VexoEnumerator *enumerator = nullptr;
    if (aim(owner, &enumerator) != S_OK)
        return nodes;
    VexoNode *node = nullptr;
    while (Vexo_enumeratorNext(enumerator, 1, &node, nullptr) == S_OK)
        nodes.push_back(node);
    Vexo_enumeratorDestroy(enumerator);
    return nodes;
}
